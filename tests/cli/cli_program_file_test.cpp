// The built Windows programs as files: nulvane-cli.exe carries the same version as nulvane.exe
// and a manifest of its own (asInvoker, the supported systems, long paths), and an optimised
// build of either carries no symbol table and no debug sections.
#ifdef _WIN32

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/process.h"

namespace nulvane::testing {
namespace {

std::wstring W(const Text& text) { return std::wstring(text.begin(), text.end()); }

std::wstring CliProgram() { return W(CliPath()); }
// nulvane.exe is built beside nulvane-cli.exe.
std::wstring WindowProgram() {
  std::wstring path = CliProgram();
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"nulvane.exe";
}

// The version resource's "FileVersion" text; empty when there is none.
std::wstring VersionOf(const std::wstring& program) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
  std::vector<BYTE> block(size);
  wchar_t* text = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoW(program.c_str(), 0, size, block.data()) ||
      !VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                      reinterpret_cast<void**>(&text), &length) ||
      !text) {
    return {};
  }
  return text;
}

// The application manifest (resource 1 of type RT_MANIFEST) as text; empty when there is none.
std::string ManifestOf(const std::wstring& program) {
  HMODULE image = LoadLibraryExW(program.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!image) return {};
  std::string manifest;
  if (HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
    const DWORD size = SizeofResource(image, found);
    HGLOBAL loaded = LoadResource(image, found);
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (bytes) manifest.assign(bytes, size);
  }
  FreeLibrary(image);
  return manifest;
}

// What the PE file says about symbols and debug information: its COFF symbol table, and the
// sections that only a debugger reads (".debug_*", stored under a long name "/NN").
struct DebugContent {
  bool read = false;
  DWORD symbol_table = 0;
  DWORD symbols = 0;
  std::vector<std::string> debug_sections;
};

DebugContent DebugContentOf(const std::wstring& program) {
  DebugContent content;
  std::ifstream file(program.c_str(), std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                std::istreambuf_iterator<char>()};
  IMAGE_DOS_HEADER dos{};
  if (bytes.size() < sizeof dos) return content;
  std::memcpy(&dos, bytes.data(), sizeof dos);
  const auto nt = static_cast<std::size_t>(dos.e_lfanew);
  IMAGE_FILE_HEADER header{};
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || nt + 4 + sizeof header > bytes.size()) return content;
  std::memcpy(&header, bytes.data() + nt + 4, sizeof header);
  content.symbol_table = header.PointerToSymbolTable;
  content.symbols = header.NumberOfSymbols;
  std::size_t section = nt + 4 + sizeof header + header.SizeOfOptionalHeader;
  for (int i = 0; i < header.NumberOfSections; ++i, section += sizeof(IMAGE_SECTION_HEADER)) {
    IMAGE_SECTION_HEADER entry{};
    if (section + sizeof entry > bytes.size()) return content;
    std::memcpy(&entry, bytes.data() + section, sizeof entry);
    const std::string name(reinterpret_cast<const char*>(entry.Name),
                           strnlen(reinterpret_cast<const char*>(entry.Name), 8));
    if (name.rfind(".debug", 0) == 0 || name.rfind('/', 0) == 0) {
      content.debug_sections.push_back(name);
    }
  }
  content.read = true;
  return content;
}

TEST(CliProgramFile, CarriesTheProgramsVersionAndItsOwnManifest) {
  const std::wstring version = VersionOf(WindowProgram());
  ASSERT_FALSE(version.empty()) << "nulvane.exe has no version";
  EXPECT_EQ(VersionOf(CliProgram()), version);

  const std::string manifest = ManifestOf(CliProgram());
  ASSERT_FALSE(manifest.empty()) << "nulvane-cli.exe has no manifest";
  EXPECT_NE(manifest.find(R"(requestedExecutionLevel level="asInvoker")"), std::string::npos);
  EXPECT_NE(manifest.find("<ws2016:longPathAware>true</ws2016:longPathAware>"), std::string::npos);
  // Every system the window program declares (Windows 7 to 11), so that the console program
  // gets the same behaviour of each, not the compatibility mode of an undeclared program.
  const std::string window_manifest = ManifestOf(WindowProgram());
  int declared = 0;
  for (std::size_t at = window_manifest.find("supportedOS Id=\""); at != std::string::npos;
       at = window_manifest.find("supportedOS Id=\"", at + 1)) {
    const std::string id = window_manifest.substr(at, 16 + 38);
    EXPECT_NE(manifest.find(id), std::string::npos) << id;
    ++declared;
  }
  EXPECT_EQ(declared, 4);
  // A console program: no common controls, no DPI awareness of a window.
  EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos);
}

TEST(CliProgramFile, OptimisedProgramsCarryNoSymbolsOrDebugSections) {
  if (!NULVANE_OPTIMISED_BUILD) GTEST_SKIP() << "a debug build keeps its symbols";
  for (const std::wstring& program : {CliProgram(), WindowProgram()}) {
    SCOPED_TRACE(std::string(program.begin(), program.end()));
    const DebugContent content = DebugContentOf(program);
    ASSERT_TRUE(content.read);
    EXPECT_EQ(content.symbol_table, 0u);
    EXPECT_EQ(content.symbols, 0u);
    EXPECT_EQ(content.debug_sections, std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace nulvane::testing

#endif  // _WIN32
