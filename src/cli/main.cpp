// The console front end's entry point: collects the arguments as UTF-16 and runs.
#include <vector>

#include "cli/cli.h"
#include "platform/text.h"

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<nulvane::Text> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  return nulvane::cli::RunCli(u"nulvane-cli", args);
}
#else
int main(int argc, char** argv) {
  std::vector<nulvane::Text> args;
  for (int i = 1; i < argc; ++i) args.push_back(nulvane::platform::Utf8ToText(argv[i]));
  return nulvane::cli::RunCli(u"nulvane-cli", args);
}
#endif
