// lzari: the build-time LZARI packer.
//   lzari encode IN OUT   compresses IN into the blob layout the program decodes
//   lzari decode IN OUT   restores the text of a blob
// Exit codes: 0 success, 1 input/output or data error, 2 usage error. OUT is written only
// once its whole content is ready.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "lang/lzari.h"
#include "lzari_encoder.h"

namespace {

constexpr int kExitIoError = 1;
constexpr int kExitUsage = 2;
// No text this tool packs comes near this; a larger header is a corrupt or foreign file.
constexpr std::uint32_t kMaxDecodedSize = 1u << 30;

using Bytes = std::vector<unsigned char>;

// UTF-8 on every system: the narrow form of a Windows path can fail for some names.
std::string Describe(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return "'" + std::string(name.begin(), name.end()) + "'";
}

std::string SystemError() {
  const int error = errno;
  return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

bool ReadFile(const std::filesystem::path& path, Bytes& content) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "lzari: cannot open " << Describe(path) << " for reading" << SystemError() << "\n";
    return false;
  }
  content.clear();
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    content.insert(content.end(), chunk, chunk + in.gcount());
  }
  if (in.bad()) {
    std::cerr << "lzari: cannot read " << Describe(path) << SystemError() << "\n";
    return false;
  }
  return true;
}

bool WriteFile(const std::filesystem::path& path, const Bytes& content) {
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::cerr << "lzari: cannot open " << Describe(path) << " for writing" << SystemError() << "\n";
    return false;
  }
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) {
    std::cerr << "lzari: cannot write " << Describe(path) << SystemError() << "\n";
    return false;
  }
  return true;
}

int Encode(const std::filesystem::path& in_path, const std::filesystem::path& out_path) {
  Bytes text;
  if (!ReadFile(in_path, text)) return kExitIoError;
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
    std::cerr << "lzari: " << Describe(in_path) << " is too large (" << text.size()
              << " bytes); the size header holds at most 4294967295\n";
    return kExitIoError;
  }
  const Bytes blob = nulvane::tools::EncodeLzari(text.data(), text.size());
  if (!WriteFile(out_path, blob)) return kExitIoError;
  return 0;
}

int Decode(const std::filesystem::path& in_path, const std::filesystem::path& out_path) {
  Bytes blob;
  if (!ReadFile(in_path, blob)) return kExitIoError;
  if (blob.size() < nulvane::lang::LZARI::kHeaderSize) {
    std::cerr << "lzari: " << Describe(in_path) << " is too short for an LZARI blob ("
              << blob.size() << " bytes; the size header alone takes 4)\n";
    return kExitIoError;
  }
  std::uint32_t header = 0;
  for (std::uint32_t i = 0; i < nulvane::lang::LZARI::kHeaderSize; ++i) {
    header |= static_cast<std::uint32_t>(blob[i]) << (8 * i);
  }
  if (header > kMaxDecodedSize) {
    std::cerr << "lzari: " << Describe(in_path) << " claims " << header
              << " decoded bytes, more than the 1 GiB this tool accepts; refusing\n";
    return kExitIoError;
  }
  // The decoder stores at most capacity - 1 bytes: size + 1 keeps the whole text.
  std::uint32_t size = 0;
  const Bytes text =
      nulvane::lang::DecodeLzariBlob(blob.data(), blob.size(), std::size_t{header} + 1, size);
  if (text.size() != size) {
    std::cerr << "lzari: decoding " << Describe(in_path) << " gave " << text.size()
              << " bytes instead of " << size << "\n";
    return kExitIoError;
  }
  if (!WriteFile(out_path, text)) return kExitIoError;
  return 0;
}

int Usage() {
  std::cerr << "usage: lzari encode IN OUT\n"
               "       lzari decode IN OUT\n";
  return kExitUsage;
}

template <typename Char>
int Run(int argc, Char** argv) {
  if (argc != 4) return Usage();
  const std::filesystem::path command(argv[1]);
  const std::filesystem::path in_path(argv[2]);
  const std::filesystem::path out_path(argv[3]);
  if (command == "encode") return Encode(in_path, out_path);
  if (command == "decode") return Decode(in_path, out_path);
  std::cerr << "lzari: unknown command " << Describe(command) << "\n";
  return Usage();
}

}  // namespace

// A Unicode Windows build (UNICODE, and -municode for MinGW) enters through wmain so that
// paths outside the ANSI code page arrive intact; elsewhere arguments are native bytes.
#if defined(_WIN32) && defined(UNICODE)
int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
#else
int main(int argc, char** argv) { return Run(argc, argv); }
#endif
