// Runs a program of the build and collects what it printed, for end-to-end tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/text.h"

namespace nulvane::testing {

struct ProcessResult {
  int exit_code = -1;
  std::string out;  // standard output, as bytes (UTF-8)
  std::string err;  // standard error
};

// Runs `program` with `args`, standard input empty, and waits for it.
ProcessResult RunProgram(const Text& program, const std::vector<Text>& args);

#ifdef _WIN32
// The same; `while_running` is called on a thread of its own with the process's handle while
// the program runs, to act on it as the system would (deliver a console event, say). The result
// is complete once both the program and `while_running` have ended.
ProcessResult RunProgram(const Text& program, const std::vector<Text>& args,
                         const std::function<void(void* process)>& while_running);
#endif

// The console front end of this build: <build>/src/nulvane-cli(.exe), found from the running
// test program's own path (<build>/tests/...).
Text CliPath();

}  // namespace nulvane::testing
