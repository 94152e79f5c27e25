#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/console.h"

namespace nulvane::platform {

namespace {
int Descriptor(Stream stream) { return stream == Stream::kOut ? STDOUT_FILENO : STDERR_FILENO; }
}  // namespace

bool WriteText(Stream stream, TextView text) {
  const std::string bytes = TextToUtf8(text);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(Descriptor(stream), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool IsTerminal(Stream stream) { return isatty(Descriptor(stream)) == 1; }

}  // namespace nulvane::platform
