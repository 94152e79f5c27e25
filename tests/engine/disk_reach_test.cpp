// What the overwrite and the fill reach on real volumes, checked the way a forensic scan
// would: marker lines written into files, the program run, the volume unmounted, the raw
// image searched. The volumes are loop images the tests make and mount themselves (root
// only; skipped with the reason otherwise). The growing-file case needs no root.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "engine/free_space_fill.h"
#include "engine/wipe.h"
#include "engine_test_support.h"
#include "lang/language_table.h"
#include "observing_file_system.h"
#include "platform/format.h"
#include "support/fake_clock.h"
#include "support/forwarding_file_system.h"
#include "support/loop_volume.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"
#include "system_wipe.h"

namespace nulvane::engine {
namespace {

using platform::IoResult;
using platform::OpenFile;
using testing::kForensicMarker;
using testing::LoopVolume;
using testing::RecordingHost;
using testing::SystemWipe;

#define NULVANE_NEED_VOLUME(volume) \
  if (!(volume).ready()) GTEST_SKIP() << (volume).skip_reason()

Text StoredElsewhereLine(const std::string& path) {
  return platform::Format(lang::Txt(lang::TextId::kStoredElsewhere), platform::Utf8ToText(path));
}

// Fills the volume with marker files as root, until not even root may write more.
void FillWithMarkers(const std::string& folder) {
  for (int i = 0;; ++i) {
    if (!testing::WriteMarkerFile(folder + "/m" + std::to_string(i), kForensicMarker, 4u << 20))
      break;
  }
}

// Regression: as root the fill stopped at the space ordinary users may use; ext4's reserved
// blocks (5 %) kept the deleted files' data.
TEST(DiskReach, Ext4FillAsRootLeavesNoMarkerInTheImage) {
  LoopVolume volume("ext4", 64);
  NULVANE_NEED_VOLUME(volume);
  const std::string folder = volume.mount_point() + "/old";
  ASSERT_EQ(std::system(("mkdir '" + folder + "'").c_str()), 0);
  FillWithMarkers(folder);
  ASSERT_EQ(std::system(("rm -rf '" + folder + "' && sync").c_str()), 0);
  const std::size_t before = volume.CountInImage(kForensicMarker);
  ASSERT_GT(before, 1000000u) << "the markers did not reach the image";

  RecordingHost host;
  const Text fill_folder = platform::Utf8ToText(volume.mount_point());
  RunFlags flags;
  FillResult result;
  testing::RunOnFreshThread([&] {
    RunContext context(host, platform::SystemFileSystem(), platform::SystemClock(), flags);
    context.fill_folder = fill_folder;
    result = RunFreeSpaceFill(context);
  });
  EXPECT_EQ(result.state.error_count, 0) << testing::Narrow(host.MessageTexts().back());
  EXPECT_TRUE(result.state.volume_full);
  // What ext4 holds back for its metadata no file can take, not even root's: the fill says how
  // much that is instead of changing the setting (another program's writes depend on it).
  std::uint64_t held_back_mb = 0;
  for (const Text& line : host.MessagesOfKind(MessageKind::kInfo)) {
    const std::string text = testing::Narrow(line);
    if (text.find("held back by the file system") != std::string::npos) {
      held_back_mb = std::stoull(text);
    }
  }
  EXPECT_GT(held_back_mb, 0u) << "no line names what ext4 holds back";
  ASSERT_TRUE(volume.Unmount());
  EXPECT_LE(volume.CountInImage(kForensicMarker) * kForensicMarker.size(), held_back_mb << 20)
      << "of " << before << " marker lines";
}

std::uint64_t FreeBlocks(const std::string& path) {
  struct statvfs volume;
  return ::statvfs(path.c_str(), &volume) == 0 ? volume.f_bfree : 0;
}

// Regression: the fill made its folder and files by path text. A neighbour who owns the chosen
// folder renamed the fresh fill folder away and put a link to a folder on another volume in
// its place: the fill wrote that volume full, and its clean-up failed. Now every fill file is
// made through the held folder, which a link in its place does not redirect.
TEST(DiskReach, AFillFolderSwappedForALinkSteersNoWriteElsewhere) {
  LoopVolume volume("ext4", 32);
  NULVANE_NEED_VOLUME(volume);
  LoopVolume other("ext4", 32);
  NULVANE_NEED_VOLUME(other);
  const std::string target = other.mount_point() + "/target";
  ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
  ::sync();
  const std::uint64_t other_free = FreeBlocks(other.mount_point());
  const std::uint64_t volume_free = FreeBlocks(volume.mount_point());
  testing::ObservingFileSystem fs;
  std::string moved;
  fs.after_fill_folder_made = [&](const Text& folder) {
    moved = volume.mount_point() + "/moved";
    const std::string made = testing::Narrow(folder);
    ASSERT_EQ(::rename(made.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::symlink(target.c_str(), made.c_str()), 0);
  };
  RecordingHost host;
  const Text fill_folder = platform::Utf8ToText(volume.mount_point());
  RunFlags flags;
  FillResult result;
  testing::RunOnFreshThread([&] {
    RunContext context(host, fs, platform::SystemClock(), flags);
    context.fill_folder = fill_folder;
    result = RunFreeSpaceFill(context);
  });
  ::sync();
  EXPECT_TRUE(result.state.volume_full);
  EXPECT_GT(result.state.written_bytes, 16u << 20);
  EXPECT_TRUE(std::filesystem::is_empty(target)) << "a fill file landed on the other volume";
  EXPECT_GE(FreeBlocks(other.mount_point()) + 2, other_free);
  // The fill folder the fill made is empty where the neighbour moved it; the link in its place
  // is theirs and is named, not removed.
  EXPECT_TRUE(std::filesystem::is_empty(moved));
  EXPECT_GE(FreeBlocks(volume.mount_point()) + 16, volume_free);
  const std::vector<Text> warnings = host.MessagesOfKind(MessageKind::kWarning);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find(u"no longer the folder the fill made"), Text::npos);
}

TEST(DiskReach, Ext4OnePassWipeLeavesNoMarkerAndReadsBackUncached) {
  LoopVolume volume("ext4", 64);
  NULVANE_NEED_VOLUME(volume);
  const std::string file = volume.mount_point() + "/letter.txt";
  ASSERT_TRUE(testing::WriteMarkerFile(file, kForensicMarker, 3u << 20));
  ASSERT_EQ(std::system("sync"), 0);
  ASSERT_GT(volume.CountInImage(kForensicMarker), 100000u);

  // The read-back really bypasses the cache here (O_DIRECT is taken).
  {
    std::unique_ptr<OpenFile> open;
    platform::OpenedFileInfo info;
    platform::FileSystem& fs = platform::SystemFileSystem();
    ASSERT_TRUE(fs.OpenForOverwrite(platform::Utf8ToText(file), open, info));
    EXPECT_FALSE(info.stored_elsewhere) << "ext4 overwrites in place";
    std::unique_ptr<platform::UncachedReader> reader;
    ASSERT_TRUE(open->OpenUncachedReader(reader));
    EXPECT_TRUE(reader->uncached);
    std::uint64_t total = 0;
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    while (reader->ReadNext(data, size) && size > 0) {
      if (total == 0)
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), 31), kForensicMarker);
      total += size;
    }
    EXPECT_EQ(total, 3u << 20);
    ASSERT_TRUE(open->Close());
  }

  SystemWipe wipe;
  wipe.tools.verify = true;
  wipe.Wipe(file, 1);
  EXPECT_TRUE(wipe.Errors().empty()) << testing::Narrow(wipe.Errors().front());
  EXPECT_TRUE(wipe.Warnings().empty());
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
  ASSERT_TRUE(volume.Unmount());
  EXPECT_EQ(volume.CountInImage(kForensicMarker), 0u);
}

// Regression: btrfs writes every change to new blocks, and a three-pass run left every marker
// in the image without a word.
TEST(DiskReach, BtrfsWarnsUnlessTheFileIsNoCow) {
  LoopVolume volume("btrfs", 256);
  NULVANE_NEED_VOLUME(volume);
  const std::string cow = volume.mount_point() + "/cow.txt";
  ASSERT_TRUE(testing::WriteMarkerFile(cow, kForensicMarker, 1u << 20));
  // No_COW must be set while the file is still empty.
  const std::string nocow = volume.mount_point() + "/nocow.txt";
  {
    const int fd = ::open(nocow.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    int flags = 0;
    ASSERT_EQ(::ioctl(fd, FS_IOC_GETFLAGS, &flags), 0);
    flags |= FS_NOCOW_FL;
    ASSERT_EQ(::ioctl(fd, FS_IOC_SETFLAGS, &flags), 0);
    ASSERT_EQ(::write(fd, kForensicMarker.data(), kForensicMarker.size()),
              static_cast<ssize_t>(kForensicMarker.size()));
    ::close(fd);
  }
  SystemWipe wipe;
  wipe.Wipe(cow, 3);
  wipe.Wipe(nocow, 1);
  EXPECT_EQ(wipe.Warnings(), std::vector<Text>{StoredElsewhereLine(cow)});
  EXPECT_TRUE(wipe.Errors().empty());
  // Warned, and still destroyed as far as the file goes.
  EXPECT_NE(::access(cow.c_str(), F_OK), 0);
  EXPECT_NE(::access(nocow.c_str(), F_OK), 0);
}

TEST(DiskReach, ReflinkedExtentsOnXfsWarnAndPlainFilesDoNot) {
  LoopVolume volume("xfs", 320);
  NULVANE_NEED_VOLUME(volume);
  const std::string original = volume.mount_point() + "/original.txt";
  const std::string copy = volume.mount_point() + "/copy.txt";
  const std::string plain = volume.mount_point() + "/plain.txt";
  ASSERT_TRUE(testing::WriteMarkerFile(original, kForensicMarker, 1u << 20));
  ASSERT_TRUE(testing::WriteMarkerFile(plain, kForensicMarker, 1u << 20));
  if (std::system(("cp --reflink=always '" + original + "' '" + copy + "'").c_str()) != 0)
    GTEST_SKIP() << "this XFS volume does not share extents (cp --reflink failed)";
  SystemWipe wipe;
  wipe.Wipe(copy, 1);
  wipe.Wipe(plain, 1);
  EXPECT_EQ(wipe.Warnings(), std::vector<Text>{StoredElsewhereLine(copy)});
  EXPECT_TRUE(wipe.Errors().empty());
  // The original keeps its own data: the copy's overwrite went to new blocks.
  std::string bytes;
  ASSERT_TRUE(testing::ReadTestFile(platform::Utf8ToText(original), bytes));
  EXPECT_EQ(bytes.substr(0, kForensicMarker.size()), kForensicMarker);
}

// Forwards to the system's file system; the first flush of each opened file lets the test
// act (another program appending to the file) before the pass looks at the size again.
class FlushHookFileSystem final : public testing::ForwardingFileSystem {
 public:
  std::function<void()> on_first_flush;

  IoResult OpenForOverwrite(const platform::EntryRef& p, std::unique_ptr<OpenFile>& file,
                            platform::OpenedFileInfo& info) override {
    const IoResult result = inner().OpenForOverwrite(p, file, info);
    if (result) file = std::make_unique<Hooked>(std::move(file), *this);
    return result;
  }

 private:
  class Hooked final : public testing::ForwardingOpenFile {
   public:
    Hooked(std::unique_ptr<OpenFile> file, FlushHookFileSystem& owner)
        : ForwardingOpenFile(std::move(file)), owner_(owner) {}
    IoResult Flush() override {
      const IoResult result = inner().Flush();
      if (!flushed_ && owner_.on_first_flush) owner_.on_first_flush();
      flushed_ = true;
      return result;
    }

   private:
    FlushHookFileSystem& owner_;
    bool flushed_ = false;
  };
};

// Regression: 62,464 bytes another process appended during the run stayed in the deleted
// inode. A writer thread appends them after the pass's first flush; its own descriptor still
// reaches the inode after the deletion, so it can read back what is left there.
TEST(DiskReach, BytesAppendedByAnotherWriterDuringThePassAreOverwrittenToo) {
  testing::TempFolder folder;
  const std::string file = platform::TextToUtf8(folder / u"growing.log");
  ASSERT_TRUE(testing::WriteMarkerFile(file, kForensicMarker, 100000));
  const int writer_fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const int reader_fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(writer_fd, 0);
  ASSERT_GE(reader_fd, 0);
  constexpr std::size_t kAppended = 62464;

  std::mutex mutex;
  std::condition_variable changed;
  bool asked = false, appended = false;
  std::thread writer([&] {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return asked; });
    std::string more;
    while (more.size() < kAppended) more += kForensicMarker;
    more.resize(kAppended);
    EXPECT_EQ(::write(writer_fd, more.data(), more.size()), static_cast<ssize_t>(kAppended));
    appended = true;
    changed.notify_all();
  });
  FlushHookFileSystem fs;
  fs.on_first_flush = [&] {
    std::unique_lock lock(mutex);
    asked = true;
    changed.notify_all();
    changed.wait(lock, [&] { return appended; });
  };
  SystemWipe wipe(fs);
  wipe.Wipe(file, 1);
  writer.join();
  EXPECT_TRUE(wipe.Errors().empty()) << testing::Narrow(wipe.Errors().front());
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
  // What the deleted inode holds now: all of it zeros, the appended bytes included.
  std::vector<char> left(100000 + kAppended + 1);
  const ssize_t got = ::pread(reader_fd, left.data(), left.size(), 0);
  EXPECT_EQ(got, static_cast<ssize_t>(100000 + kAppended));
  std::size_t non_zero = 0;
  for (ssize_t i = 0; i < got; ++i) non_zero += left[static_cast<std::size_t>(i)] != 0;
  EXPECT_EQ(non_zero, 0u);
  EXPECT_EQ(wipe.tally.written_bytes, 100000u + kAppended);
  ::close(writer_fd);
  ::close(reader_fd);
}

TEST(DiskReach, VerifyPassesACleanFileOnTheTestDisk) {
  testing::TempFolder folder;
  const std::string file = platform::TextToUtf8(folder / u"clean.bin");
  ASSERT_TRUE(testing::WriteMarkerFile(file, kForensicMarker, (2u << 20) + 123));
  SystemWipe wipe;
  wipe.tools.verify = true;
  wipe.Wipe(file, 2);
  EXPECT_TRUE(wipe.Errors().empty()) << testing::Narrow(wipe.Errors().front());
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace nulvane::engine

#endif  // _WIN32
