// The free-space fill end to end on a small dedicated volume: a 4 MiB tmpfs mounted for the
// test alone (root only). Never on the machine's real disk.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/free_space_fill.h"
#include "engine_test_support.h"
#include "support/fake_clock.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace nulvane::engine {
namespace {

class SmallVolume {
 public:
  explicit SmallVolume(const Text& mount_point) : path_(platform::TextToUtf8(mount_point)) {
    if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m,mode=0700") == 0) {
      mounted_ = true;
    } else {
      error_ = std::strerror(errno);
    }
  }
  ~SmallVolume() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }
  std::uint64_t FreeBytes() const {
    struct statvfs volume;
    if (::statvfs(path_.c_str(), &volume) != 0) return 0;
    return static_cast<std::uint64_t>(volume.f_bavail) * volume.f_frsize;
  }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string error_;
};

TEST(DiskFill, FillsASmallTmpfsCompletelyAndLeavesItAsItWas) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a 4 MiB tmpfs for the fill";
  testing::TempFolder mount_point;
  SmallVolume volume(mount_point.path());
  if (!volume.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << volume.error();
  const Text chosen = mount_point / u"chosen";
  ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(chosen)));
  const std::uint64_t free_before = volume.FreeBytes();
  ASSERT_GT(free_before, 3u << 20);

  testing::RecordingHost host;
  const Text fill_folder = chosen;
  RunFlags flags;
  std::uint64_t peak_used = 0;
  FillResult result;
  testing::RunOnFreshThread([&] {
    RunContext context(host, platform::SystemFileSystem(), platform::SystemClock(), flags);
    context.fill_folder = fill_folder;
    result = RunFreeSpaceFill(context);
  });
  peak_used = result.state.written_bytes;

  EXPECT_EQ(result.state.error_count, 0) << testing::Narrow(host.MessageTexts().back());
  EXPECT_FALSE(result.state.stopped);
  // The whole free space was written (tmpfs counts whole pages, all of them usable).
  EXPECT_EQ(result.state.target_bytes, free_before);
  EXPECT_EQ(peak_used, result.state.target_bytes);
  const auto messages = host.MessageTexts();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(messages[0], platform::Utf8ToText(std::to_string(free_before)) + u" Byte");
  EXPECT_EQ(messages[1].substr(0, 5), u"File:");
  EXPECT_EQ(messages[2], u"100.00 %");
  EXPECT_EQ(messages[3], u"Ready");
  // Neither the file nor the fill folder is left; the volume has its space back.
  EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(chosen)));
  EXPECT_EQ(volume.FreeBytes(), free_before);
}

TEST(DiskFill, StopRequestOnARealVolumeRemovesFileAndFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a 4 MiB tmpfs for the fill";
  testing::TempFolder mount_point;
  SmallVolume volume(mount_point.path());
  if (!volume.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << volume.error();
  testing::RecordingHost host;
  const Text fill_folder = mount_point.path();
  RunFlags flags;
  // The first progress report stops the fill, as Ctrl+C would.
  host.OnCall([&](const testing::RecordingHost::Call& call) {
    if (call.kind == testing::RecordingHost::CallKind::kSetStatusText) flags.stop.store(1);
  });
  testing::FakeClock clock;
  clock.SetStepPerReading(200);  // every block's report is due
  FillResult result;
  testing::RunOnFreshThread([&] {
    RunContext context(host, platform::SystemFileSystem(), clock, flags);
    context.fill_folder = fill_folder;
    result = RunFreeSpaceFill(context);
  });
  EXPECT_TRUE(result.state.stopped);
  EXPECT_EQ(result.state.written_bytes, FillBlockSize(4096) * kFillBlocksPerRequest);
  EXPECT_EQ(result.state.error_count, 0);
  EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::path(mount_point.path())));
}

}  // namespace
}  // namespace nulvane::engine

#endif  // _WIN32
