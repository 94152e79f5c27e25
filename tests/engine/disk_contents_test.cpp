// What a file holds beyond its data blocks, and files that change under the wipe, on real
// volumes: extended attribute values, the holes of sparse files, files on a layered file
// system, files another program cuts short. The image tests make and mount loop volumes of
// their own (root only; skipped with the reason otherwise) and search the raw image the way a
// forensic scan would.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "lang/language_table.h"
#include "platform/format.h"
#include "support/forwarding_file_system.h"
#include "support/loop_volume.h"
#include "support/temp_folder.h"
#include "system_wipe.h"

namespace nulvane::engine {
namespace {

using platform::Format;
using platform::IoResult;
using platform::OpenFile;
using testing::LoopVolume;
using testing::SystemWipe;

#define NULVANE_NEED_VOLUME(volume) \
  if (!(volume).ready()) GTEST_SKIP() << (volume).skip_reason()

Text U(const std::string& path) { return platform::Utf8ToText(path); }

std::string Repeated(const std::string& marker, std::size_t bytes) {
  std::string value;
  while (value.size() < bytes) value += marker;
  value.resize(bytes);
  return value;
}

std::uint64_t FreeBytes(const std::string& path) {
  struct statvfs volume {};
  EXPECT_EQ(::statvfs(path.c_str(), &volume), 0);
  return static_cast<std::uint64_t>(volume.f_bfree) * volume.f_frsize;
}

// Regression: a user attribute's 800-byte value was still in the freed attribute block after
// a three-pass wipe with --verify that reported no error.
TEST(DiskContents, NoAttributeValueOfAFileOrFolderSurvivesOnAnExt4WithoutJournal) {
  // A journal would keep a copy of the attribute block until it wraps, as it keeps names.
  LoopVolume volume("ext4", 32, "-O ^has_journal");
  NULVANE_NEED_VOLUME(volume);
  const std::string marker = "NULVANE-XATTR-MARKER-4e1b\n";
  const std::string file = volume.mount_point() + "/letter.txt";
  const std::string folder = volume.mount_point() + "/box";
  ASSERT_TRUE(testing::WriteMarkerFile(file, "plain content\n", 4096));
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const std::string file_value = Repeated(marker, 800);
  const std::string folder_value = Repeated(marker, 700);
  ASSERT_EQ(::setxattr(file.c_str(), "user.secret", file_value.data(), file_value.size(), 0), 0);
  ASSERT_EQ(::setxattr(folder.c_str(), "user.note", folder_value.data(), folder_value.size(), 0),
            0);
  ::sync();
  ASSERT_GE(volume.CountInImage(marker), 800u / marker.size() + 700u / marker.size());

  SystemWipe wipe;
  wipe.Wipe(file, 1);
  wipe.Wipe(folder, 1);
  EXPECT_TRUE(wipe.Errors().empty()) << testing::Narrow(wipe.Errors().front());
  EXPECT_TRUE(wipe.Warnings().empty()) << testing::Narrow(wipe.Warnings().front());
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
  EXPECT_NE(::access(folder.c_str(), F_OK), 0);
  ASSERT_TRUE(volume.Unmount());
  EXPECT_EQ(volume.CountInImage(marker), 0u);
}

// The system's file system, counting the bytes handed to it for writing.
class CountingFileSystem final : public testing::ForwardingFileSystem {
 public:
  std::uint64_t written = 0;

  IoResult OpenForOverwrite(const platform::EntryRef& entry, std::unique_ptr<OpenFile>& file,
                            platform::OpenedFileInfo& info) override {
    const IoResult result = inner().OpenForOverwrite(entry, file, info);
    if (result) file = std::make_unique<Counted>(std::move(file), written);
    return result;
  }

 private:
  class Counted final : public testing::ForwardingOpenFile {
   public:
    Counted(std::unique_ptr<OpenFile> file, std::uint64_t& written)
        : ForwardingOpenFile(std::move(file)), written_(written) {}
    IoResult Write(const void* data, std::size_t size, std::size_t& done) override {
      const IoResult result = inner().Write(data, size, done);
      written_ += done;
      return result;
    }
    IoResult WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                           std::size_t& done) override {
      const IoResult result = inner().WriteRepeated(block, block_size, count, done);
      written_ += done;
      return result;
    }

   private:
    std::uint64_t& written_;
  };
};

// Regression: a 50 GB sparse file on a small volume had its holes written until the volume was
// full ("The volume is full"); the data near its end was never reached and the volume was left
// full.
TEST(DiskContents, ASparseFileIsOverwrittenOnlyWhereItHoldsDataAndLeavesItsBlocksFree) {
  LoopVolume volume("ext4", 64);
  NULVANE_NEED_VOLUME(volume);
  const std::uint64_t free_empty = FreeBytes(volume.mount_point());
  const std::string file = volume.mount_point() + "/disk.vhd";
  constexpr std::uint64_t kApparent = 50'000'000'000ULL;
  const std::string chunk = Repeated(testing::kForensicMarker, 64 * 1024);
  {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, chunk.data(), chunk.size(), 0), static_cast<ssize_t>(chunk.size()));
    ASSERT_EQ(
        ::pwrite(fd, chunk.data(), chunk.size(), static_cast<off_t>(kApparent - chunk.size())),
        static_cast<ssize_t>(chunk.size()));
    ASSERT_EQ(::fsync(fd), 0);
    ::close(fd);
  }
  ::sync();
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  ASSERT_EQ(static_cast<std::uint64_t>(status.st_size), kApparent);
  const std::uint64_t allocated = static_cast<std::uint64_t>(status.st_blocks) * 512;
  const std::uint64_t free_before = FreeBytes(volume.mount_point());
  ASSERT_GE(volume.CountInImage(testing::kForensicMarker), 2 * chunk.size() / 31 - 2);

  CountingFileSystem fs;
  SystemWipe wipe(fs);
  wipe.tally.total_bytes = kApparent;
  wipe.Wipe(file, 1);
  EXPECT_TRUE(wipe.Errors().empty()) << testing::Narrow(wipe.Errors().front());
  EXPECT_TRUE(wipe.Warnings().empty()) << testing::Narrow(wipe.Warnings().front());
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
  // Only the data was written, not a volume's worth of zeros; the holes count as done.
  EXPECT_EQ(fs.written, 2 * chunk.size());
  EXPECT_EQ(wipe.tally.written_bytes, kApparent);
  // The volume has its free space back: what it was plus the file's blocks.
  ::sync();
  EXPECT_EQ(FreeBytes(volume.mount_point()), free_before + allocated);
  EXPECT_EQ(FreeBytes(volume.mount_point()), free_empty);
  ASSERT_TRUE(volume.Unmount());
  EXPECT_EQ(volume.CountInImage(testing::kForensicMarker), 0u);
}

// Unmounts the overlay when the test ends, its failures included.
struct OverlayMount {
  std::string merged;
  bool mounted = false;
  ~OverlayMount() {
    if (mounted && ::umount(merged.c_str()) != 0) ::umount2(merged.c_str(), MNT_DETACH);
  }
};

// Regression: --verify -p 2 on a file in an overlay's merged folder said nothing, while the
// lower layer kept the original.
TEST(DiskContents, AFileOnOverlayfsGetsTheOldCopiesWarningNamingTheFileSystem) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount an overlay";
  testing::TempFolder folder;
  const std::string base = platform::TextToUtf8(folder.path());
  for (const char* part : {"/lower", "/upper", "/work", "/merged"}) {
    ASSERT_EQ(::mkdir((base + part).c_str(), 0700), 0);
  }
  ASSERT_TRUE(testing::WriteMarkerFile(base + "/lower/secret.txt", testing::kForensicMarker, 4096));
  OverlayMount overlay{base + "/merged"};
  const std::string options =
      "lowerdir=" + base + "/lower,upperdir=" + base + "/upper,workdir=" + base + "/work";
  if (::mount("overlay", overlay.merged.c_str(), "overlay", 0, options.c_str()) != 0) {
    GTEST_SKIP() << "the kernel refuses an overlay mount here: " << std::strerror(errno);
  }
  overlay.mounted = true;
  const std::string file = overlay.merged + "/secret.txt";
  SystemWipe wipe;
  wipe.tools.verify = true;
  wipe.Wipe(file, 2);
  EXPECT_EQ(wipe.Warnings(),
            std::vector<Text>{Format(lang::Txt(lang::TextId::kLayered), U(file), u"overlayfs")});
  EXPECT_TRUE(wipe.Errors().empty()) << testing::Narrow(wipe.Errors().front());
  EXPECT_NE(::access(file.c_str(), F_OK), 0);
  // What the line warns of: the lower layer still holds the original.
  std::string lower;
  ASSERT_TRUE(testing::ReadTestFile(U(base + "/lower/secret.txt"), lower));
  EXPECT_EQ(lower.substr(0, testing::kForensicMarker.size()), testing::kForensicMarker);
}

// The system's file system; `after_write` runs after each write request of the run (with its
// number, from 1) and `after_close` after each overwrite handle is closed, so that a test can
// act as another program at exactly that moment.
class CutShortFileSystem final : public testing::ForwardingFileSystem {
 public:
  std::function<void(int request)> after_write;
  std::function<void()> after_close;
  int requests = 0;

  IoResult OpenForOverwrite(const platform::EntryRef& entry, std::unique_ptr<OpenFile>& file,
                            platform::OpenedFileInfo& info) override {
    const IoResult result = inner().OpenForOverwrite(entry, file, info);
    if (result) file = std::make_unique<Hooked>(std::move(file), *this);
    return result;
  }

 private:
  class Hooked final : public testing::ForwardingOpenFile {
   public:
    Hooked(std::unique_ptr<OpenFile> file, CutShortFileSystem& owner)
        : ForwardingOpenFile(std::move(file)), owner_(owner) {}
    IoResult WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                           std::size_t& done) override {
      const IoResult result = inner().WriteRepeated(block, block_size, count, done);
      if (owner_.after_write) owner_.after_write(++owner_.requests);
      return result;
    }
    IoResult Close() override {
      const IoResult result = inner().Close();
      if (owner_.after_close) owner_.after_close();
      return result;
    }

   private:
    CutShortFileSystem& owner_;
  };
};

// Regression: a 92 MiB file truncated to 0 by another program during the wipe was reported as
// 100 % with no error, and the blocks it gave up kept 72 MiB of the old content; our later
// writes had grown it back over new blocks.
TEST(DiskContents, AFileCutShortDuringOrBetweenPassesIsKeptWithAnErrorLine) {
  for (const bool during_pass : {true, false}) {
    SCOPED_TRACE(during_pass ? "cut short during a pass" : "cut short between the passes");
    testing::TempFolder folder;
    const std::string file = platform::TextToUtf8(folder / u"log.bin");
    ASSERT_TRUE(testing::WriteMarkerFile(file, testing::kForensicMarker, 8u << 20));
    CutShortFileSystem fs;
    if (during_pass) {
      fs.after_write = [&](int request) {
        if (request == 5) {
          ASSERT_EQ(::truncate(file.c_str(), 0), 0);
        }
      };
    } else {
      fs.after_close = [&] { ASSERT_EQ(::truncate(file.c_str(), 1u << 20), 0); };
    }
    SystemWipe wipe(fs);
    wipe.Wipe(file, 2);
    EXPECT_EQ(wipe.Errors(), std::vector<Text>{Format(lang::Txt(lang::TextId::kShrank), U(file))});
    EXPECT_EQ(wipe.tally.error_count, 1);
    EXPECT_EQ(::access(file.c_str(), F_OK), 0) << "the file must be kept";
  }
}

}  // namespace
}  // namespace nulvane::engine

#endif  // _WIN32
