#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/console.h"
#include "platform/text.h"

namespace nulvane::platform {

namespace {
int Descriptor(Stream stream) { return stream == Stream::kOut ? STDOUT_FILENO : STDERR_FILENO; }
}  // namespace

bool WriteText(Stream stream, TextView text) {
  // The bytes go through one buffer per thread, kept at its largest: a listing writes many
  // 32 K pieces, and a new string for each would be allocated and cleared every time.
  thread_local std::string bytes;
  if (bytes.size() < kMostUtf8BytesPerUnit * text.size()) {
    bytes.resize(kMostUtf8BytesPerUnit * text.size());
  }
  const std::size_t length =
      static_cast<std::size_t>(EncodeUtf8(text, bytes.data()) - bytes.data());
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = write(Descriptor(stream), bytes.data() + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool IsTerminal(Stream stream) { return isatty(Descriptor(stream)) == 1; }

}  // namespace nulvane::platform
