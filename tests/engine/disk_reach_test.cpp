// What the overwrite and the fill reach on real volumes, checked the way a forensic scan
// would: marker lines written into files, the program run, the volume unmounted, the raw
// image searched. The volumes are loop images the tests make and mount themselves (root
// only; skipped with the reason otherwise). The growing-file case needs no root.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "engine/free_space_fill.h"
#include "engine/wipe.h"
#include "engine_test_support.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "support/fake_clock.h"
#include "support/loop_volume.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace nulvane::engine {
namespace {

using platform::IoResult;
using platform::OpenFile;
using testing::kForensicMarker;
using testing::LoopVolume;
using testing::RecordingHost;

#define NULVANE_NEED_VOLUME(volume) \
  if (!(volume).ready()) GTEST_SKIP() << (volume).skip_reason()

// WipeItem with the system's file system, as a run calls it.
struct SystemWipe {
  explicit SystemWipe(platform::FileSystem& fs = platform::SystemFileSystem())
      : tools{fs, host, progress, zeros} {}
  void Wipe(const std::string& path, int passes) {
    testing::RunOnFreshThread([&] { WipeItem(tools, platform::Utf8ToText(path), passes, tally); });
  }
  std::vector<Text> Warnings() const { return host.MessagesOfKind(MessageKind::kWarning); }
  std::vector<Text> Errors() const { return host.MessagesOfKind(MessageKind::kError); }

  RecordingHost host;
  testing::FakeClock clock;
  ProgressDisplay progress{host, clock};
  std::array<unsigned char, 3000> zeros{};
  WipeTools tools;
  RunTally tally;
};

Text StoredElsewhereLine(const std::string& path) {
  return platform::Format(lang::Txt(101), platform::Utf8ToText(path));
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
  host.SetChosenFolder(platform::Utf8ToText(volume.mount_point()));
  RunFlags flags;
  FillResult result;
  testing::RunOnFreshThread([&] {
    RunContext context(host, platform::SystemFileSystem(), platform::SystemClock(), flags);
    result = RunFreeSpaceFill(context);
  });
  EXPECT_EQ(result.state.error_count, 0) << testing::Narrow(host.MessageTexts().back());
  EXPECT_TRUE(result.state.volume_full);
  ASSERT_TRUE(volume.Unmount());
  EXPECT_EQ(volume.CountInImage(kForensicMarker), 0u) << "of " << before << " marker lines";
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
class FlushHookFileSystem final : public platform::FileSystem {
 public:
  std::function<void()> on_first_flush;

  IoResult Inspect(const platform::EntryRef& e, platform::EntryInfo& i) override {
    return inner_.Inspect(e, i);
  }
  IoResult FindEntry(TextView p, platform::EntryInfo& i) override { return inner_.FindEntry(p, i); }
  IoResult ListFolder(const platform::EntryRef& f,
                      const std::function<void(TextView, const platform::EntryInfo&)>& v) override {
    return inner_.ListFolder(f, v);
  }
  IoResult OpenForOverwrite(const platform::EntryRef& p, std::unique_ptr<OpenFile>& file,
                            platform::OpenedFileInfo& info) override {
    const IoResult result = inner_.OpenForOverwrite(p, file, info);
    if (result) file = std::make_unique<Hooked>(std::move(file), *this);
    return result;
  }
  IoResult OpenFolderForStamp(const platform::EntryRef& p, std::unique_ptr<OpenFile>& f) override {
    return inner_.OpenFolderForStamp(p, f);
  }
  IoResult CreateNewFile(TextView p, std::unique_ptr<OpenFile>& f, platform::Caching c) override {
    return inner_.CreateNewFile(p, f, c);
  }
  IoResult RenameNoReplace(const platform::EntryRef& a, TextView b) override {
    return inner_.RenameNoReplace(a, b);
  }
  IoResult DeleteFile(const platform::EntryRef& p) override { return inner_.DeleteFile(p); }
  IoResult RemoveFolder(const platform::EntryRef& p) override { return inner_.RemoveFolder(p); }
  void ForgetOpenFolders() override { inner_.ForgetOpenFolders(); }
  IoResult CreateFolder(TextView p) override { return inner_.CreateFolder(p); }
  IoResult GetVolumeSpace(TextView p, platform::VolumeSpace& s) override {
    return inner_.GetVolumeSpace(p, s);
  }
  IoResult PrepareFillFolder(TextView f) override { return inner_.PrepareFillFolder(f); }
  Text FullPath(TextView p) override { return inner_.FullPath(p); }

 private:
  class Hooked final : public OpenFile {
   public:
    Hooked(std::unique_ptr<OpenFile> inner, FlushHookFileSystem& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    IoResult Write(const void* d, std::size_t s, std::size_t& w) override {
      return inner_->Write(d, s, w);
    }
    IoResult WriteRepeated(const void* b, std::size_t s, std::size_t c, std::size_t& w) override {
      return inner_->WriteRepeated(b, s, c, w);
    }
    IoResult Flush() override {
      const IoResult result = inner_->Flush();
      if (!flushed_ && owner_.on_first_flush) owner_.on_first_flush();
      flushed_ = true;
      return result;
    }
    IoResult SetTimes(platform::FileTime t) override { return inner_->SetTimes(t); }
    IoResult Close() override { return inner_->Close(); }
    IoResult CurrentSize(std::uint64_t& s) override { return inner_->CurrentSize(s); }
    IoResult OpenUncachedReader(std::unique_ptr<platform::UncachedReader>& r) override {
      return inner_->OpenUncachedReader(r);
    }

   private:
    std::unique_ptr<OpenFile> inner_;
    FlushHookFileSystem& owner_;
    bool flushed_ = false;
  };
  platform::FileSystem& inner_ = platform::SystemFileSystem();
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
