// The console window closed during a fill, as Windows delivers it: the system starts the
// process's CtrlRoutine with CTRL_CLOSE_EVENT on a new thread and ends the process once the
// handlers have returned. The fill must stop and the program end only after its temporary files
// and folder are gone. Runs on a volume of its own (scripts/with_fill_volumes.sh), never on the
// machine's disk.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace nulvane::testing {
namespace {

ULONGLONG FreeBytes(const std::wstring& folder) {
  ULARGE_INTEGER free{};
  GetDiskFreeSpaceExW((folder + L"\\").c_str(), &free, nullptr, nullptr);
  return free.QuadPart;
}

ULONGLONG TotalBytes(const std::wstring& folder) {
  ULARGE_INTEGER total{};
  GetDiskFreeSpaceExW((folder + L"\\").c_str(), nullptr, &total, nullptr);
  return total.QuadPart;
}

// The names in `folder` other than ".", ".." and ext4's "lost+found".
std::vector<std::wstring> Leftovers(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return {L"<cannot list>"};
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L".." && name != L"lost+found") names.push_back(name);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

TEST(ConsoleCloseDuringFill, TheFillStopsAndTheProgramEndsOnlyOnceItHasCleanedUp) {
  const char* variable = std::getenv("NULVANE_STOP_VOLUME");
  if (!variable || !*variable) {
    GTEST_SKIP() << "needs a volume of its own: run as root through scripts/with_fill_volumes.sh";
  }
  const std::string narrow(variable);
  const std::wstring volume(narrow.begin(), narrow.end());
  const ULONGLONG total = TotalBytes(volume);
  ASSERT_GT(total, 0u);
  ASSERT_LE(total, 1100ull << 20) << "not the small volume of the mount script";
  ASSERT_NE(total, TotalBytes(L"C:"));
  const auto routine = reinterpret_cast<LPTHREAD_START_ROUTINE>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine")));
  if (!routine) GTEST_SKIP() << "the system delivers console events otherwise here";
  const ULONGLONG free_before = FreeBytes(volume);

  bool delivered = false;
  ProcessResult result = RunProgram(
      CliPath(), {u"--fill", Text(volume.begin(), volume.end()), u"-L", u"1"}, [&](void* process) {
        // Once the fill has written a good part, the console window is closed.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (FreeBytes(volume) + (64ull << 20) > free_before &&
               std::chrono::steady_clock::now() < deadline &&
               WaitForSingleObject(process, 10) == WAIT_TIMEOUT) {
        }
        const HANDLE thread = CreateRemoteThread(
            process, nullptr, 0, routine, reinterpret_cast<void*>(CTRL_CLOSE_EVENT), 0, nullptr);
        delivered = thread != nullptr;
        if (thread) CloseHandle(thread);
      });

  EXPECT_TRUE(delivered);
  EXPECT_EQ(result.exit_code, 3) << result.out << result.err;
  EXPECT_NE((result.out + result.err).find("The fill was stopped"), std::string::npos)
      << result.out << result.err;
  EXPECT_TRUE(Leftovers(volume).empty()) << "the temporary files and folder are removed";
  EXPECT_GE(FreeBytes(volume) + (1u << 20), free_before);
}

}  // namespace
}  // namespace nulvane::testing

#endif  // _WIN32
