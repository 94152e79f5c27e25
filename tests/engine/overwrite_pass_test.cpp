// One overwrite pass over one object: the body past the system's cache in aligned blocks, the
// edges through the cache, the length kept; on the fake file system, which holds writes past
// the cache to the sector rule of unbuffered handles on Windows, and on real folders.
#include "engine/overwrite_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "support/fake_clock.h"
#include "support/fake_file_system.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace nulvane::engine {
namespace {

using platform::IoResult;
using platform::OpenFile;
using testing::FakeError;
using testing::FakeFileSystem;
using testing::FakePath;
using testing::FsCall;
using testing::FsOp;

// The sizes every case goes through: empty, around one sector, below and around the size from
// which the body goes past the cache, around one direct request, and one that ends in an odd
// tail after several requests.
const std::vector<std::uint64_t> kSizes = {0,
                                           1,
                                           4095,
                                           4096,
                                           4097,
                                           65535,
                                           65536 + 4097,
                                           1u << 20,
                                           (1u << 20) - 1,
                                           (1u << 20) + 1,
                                           3 * (1u << 20) + 12345};

// The tools of one run, for passes made outside WipeItem.
struct PassTools {
  explicit PassTools(platform::FileSystem& fs) : tools{fs, host, progress, zeros} {}
  testing::RecordingHost host;
  testing::FakeClock clock;
  ProgressDisplay progress{host, clock};
  std::array<unsigned char, 3000> zeros{};
  WipeTools tools;
  RunTally tally;
  std::vector<Text> Errors() const { return host.MessagesOfKind(MessageKind::kError); }
};

// Opens the file at `path` for overwriting as a wipe does, on a fresh thread as a run does, and
// hands it to `work`.
void WithOpenFile(platform::FileSystem& fs, const Text& path,
                  const std::function<void(OpenFile&, const platform::OpenedFileInfo&)>& work) {
  testing::RunOnFreshThread([&] {
    platform::EntryInfo listed;
    ASSERT_TRUE(fs.Inspect(path, listed)) << testing::Narrow(path);
    const platform::EntryRef entry(path, platform::ParentAnchorLength(path), listed.identity);
    std::unique_ptr<OpenFile> file;
    platform::OpenedFileInfo info;
    ASSERT_TRUE(fs.OpenForOverwrite(entry, file, info)) << testing::Narrow(path);
    work(*file, info);
    EXPECT_TRUE(file->Close());
  });
}

// One pass over the file at `path`, which stays; true when the pass reported success (with
// `verify`: and the read-back past the cache found only zeros).
bool OverwriteOnce(platform::FileSystem& fs, const Text& path, PassTools& run,
                   bool verify = false) {
  bool done = false;
  WithOpenFile(fs, path, [&](OpenFile& file, const platform::OpenedFileInfo& info) {
    run.tally.total_bytes += info.size;
    std::uint64_t covered = 0;
    done = OverwriteObject(run.tools, file, path, info.may_have_holes, info.size, 0, verify,
                           run.tally, covered);
  });
  return done;
}

std::uint64_t BytesOf(const std::vector<FsCall>& calls) {
  std::uint64_t bytes = 0;
  for (const FsCall& call : calls) bytes += call.size;
  return bytes;
}

class OverwritePassTest : public ::testing::Test {
 protected:
  OverwritePassTest() {
    fs_.AddFolder(FakePath(u"w"));
    fs_.SetSectorSize(kSector);
  }
  static constexpr std::uint32_t kSector = 4096;
  FakeFileSystem fs_;
  const Text file_ = FakePath(u"w/archive.bin");
};

// The body of a large file goes past the cache in whole sectors, the odd tail through it, and
// the flush comes after both; the file keeps its length. Writes past the cache that break the
// sector rule would fail the pass.
TEST_F(OverwritePassTest, FilesOfOddSizesEndAllZeroAtTheirLengthUnderTheSectorRule) {
  for (const std::uint64_t size : kSizes) {
    SCOPED_TRACE(size);
    FakeFileSystem fs;
    fs.AddFolder(FakePath(u"w"));
    fs.SetSectorSize(kSector);
    fs.AddFileOfSize(file_, static_cast<std::size_t>(size));
    bool zero_at_flush = false;
    fs.SetObserver([&](const FsCall& call) {
      if (call.op != FsOp::kFlush) return;
      const auto content = fs.Content(file_);
      zero_at_flush = content && content->size() == size && testing::AllZero(*content);
    });
    PassTools run(fs);
    EXPECT_TRUE(OverwriteOnce(fs, file_, run));
    EXPECT_TRUE(run.Errors().empty());
    EXPECT_TRUE(zero_at_flush);
    EXPECT_EQ(fs.CountOf(FsOp::kFlush), 1);
    EXPECT_EQ(run.tally.written_bytes, size);
    // Past the cache: every whole sector of a file from 64 KiB on; the rest through it.
    const std::uint64_t body = size >= 64 * 1024 ? size / kSector * kSector : 0;
    EXPECT_EQ(BytesOf(fs.CallsOf(FsOp::kWriteDirect)), body);
    EXPECT_EQ(BytesOf(fs.CallsOf(FsOp::kWrite)), size - body);
  }
}

// Regression guard for the rule itself: a file whose size is not a whole number of sectors
// cannot be written past the cache in one go, nor from an odd offset or address, and nothing
// of such a write lands; the pass, which keeps to the rule, zeroes the same file.
TEST_F(OverwritePassTest, ANaiveUnbufferedWriteOfAnOddSizedFileFailsWhereThePassSucceeds) {
  constexpr std::size_t kSize = 100001;
  fs_.AddFileOfSize(file_, kSize);
  const std::vector<unsigned char> before = *fs_.Content(file_);
  WithOpenFile(fs_, file_, [&](OpenFile& file, const platform::OpenedFileInfo&) {
    OpenFile::DirectAlignment alignment;
    ASSERT_TRUE(file.StartDirectWrites(alignment));
    EXPECT_EQ(alignment.block, kSector);
    void* block = ::operator new (2 * kSize, std::align_val_t{kSector});
    const auto* zeros = static_cast<unsigned char*>(block);
    std::fill_n(static_cast<unsigned char*>(block), 2 * kSize, 0);
    std::size_t written = 1;
    EXPECT_EQ(file.WriteDirect(zeros, kSize, written).error, FakeError::kInvalid);  // odd length
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(file.WriteDirect(zeros + 512, kSector, written).error, FakeError::kInvalid);
    ASSERT_TRUE(file.Seek(512));
    EXPECT_EQ(file.WriteDirect(zeros, kSector, written).error, FakeError::kInvalid);
    ::operator delete (block, std::align_val_t{kSector});
  });
  EXPECT_EQ(*fs_.Content(file_), before);

  PassTools run(fs_);
  EXPECT_TRUE(OverwriteOnce(fs_, file_, run));
  EXPECT_TRUE(run.Errors().empty());
  const auto after = fs_.Content(file_);
  EXPECT_EQ(after->size(), kSize);
  EXPECT_TRUE(testing::AllZero(*after));
}

// A write past the cache that the system takes only in part (as at the end of its space or
// after a signal) leaves an offset off the sector: the pass goes on through the cache up to the
// next sector and past it again from there.
TEST_F(OverwritePassTest, AShortWritePastTheCacheGoesOnFromWhereItStopped) {
  constexpr std::size_t kSize = 3 * (1u << 20) + 777;
  fs_.AddFileOfSize(file_, kSize);
  fs_.SetMaxWriteChunk(100000);  // not a whole number of sectors
  PassTools run(fs_);
  EXPECT_TRUE(OverwriteOnce(fs_, file_, run));
  EXPECT_TRUE(run.Errors().empty());
  EXPECT_TRUE(testing::AllZero(*fs_.Content(file_)));
  EXPECT_EQ(fs_.Content(file_)->size(), kSize);
  EXPECT_EQ(run.tally.written_bytes, kSize);
  EXPECT_GT(fs_.CountOf(FsOp::kWriteDirect), 3 * 10);
}

// A sparse file's data ranges that do not start or end on a sector get their edges through the
// cache and their aligned middle past it; its holes get no write at all.
TEST_F(OverwritePassTest, ASparseFilesUnalignedRangesAreWrittenAndItsHolesAreNot) {
  constexpr std::size_t kSize = 2 * (1u << 20) + 100;
  fs_.AddFileOfSize(file_, kSize);
  const std::vector<platform::ByteRange> data = {{1000, 300000}, {1200000, 70001}, {2097000, 252}};
  fs_.MakeSparse(file_, data);
  PassTools run(fs_);
  EXPECT_TRUE(OverwriteOnce(fs_, file_, run));
  EXPECT_TRUE(run.Errors().empty());
  EXPECT_TRUE(testing::AllZero(*fs_.Content(file_)));
  EXPECT_EQ(fs_.Content(file_)->size(), kSize);
  EXPECT_EQ(BytesOf(fs_.CallsOf(FsOp::kWrite)) + BytesOf(fs_.CallsOf(FsOp::kWriteDirect)),
            300000u + 70001u + 252u);
  EXPECT_GT(BytesOf(fs_.CallsOf(FsOp::kWriteDirect)), 300000u);
  EXPECT_EQ(run.tally.written_bytes, kSize);  // holes count as done
}

// ---- Real folders ----

// Bytes that are not zero, `size` of them.
std::string Pattern(std::uint64_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}

// Writes every size of kSizes into `folder`, overwrites each with one pass through the system's
// file system, which reads it back past the cache, and reads it back: all zeros, at its length.
void OverwriteEverySizeIn(const Text& folder) {
  platform::FileSystem& fs = platform::SystemFileSystem();
  for (const std::uint64_t size : kSizes) {
    SCOPED_TRACE(size);
    const Text path =
        folder + platform::kPathSeparator + u"f" + platform::Utf8ToText(std::to_string(size));
    ASSERT_TRUE(testing::WriteTestFile(path, Pattern(size)));
    PassTools run(fs);
    EXPECT_TRUE(OverwriteOnce(fs, path, run, /*verify=*/true));
    EXPECT_TRUE(run.Errors().empty()) << testing::Narrow(run.Errors().front());
    std::string back;
    ASSERT_TRUE(testing::ReadTestFile(path, back));
    EXPECT_EQ(back.size(), size);
    EXPECT_EQ(back.find_first_not_of('\0'), std::string::npos);
  }
}

TEST(OverwritePassOnDisk, FilesOfOddSizesEndAllZeroAtTheirLength) {
  const testing::TempFolder folder;
  OverwriteEverySizeIn(folder.path());
}

#ifndef _WIN32

// tmpfs takes writes past the cache since Linux 6.6 and refused them before; ramfs refuses
// them: either way the file ends all zero.
TEST(OverwritePassOnDisk, FileSystemsInMemoryEndAllZeroWhetherOrNotTheyTakeDirectWrites) {
  char shm[] = "/dev/shm/nulvane-test-XXXXXX";
  if (::mkdtemp(shm)) {
    OverwriteEverySizeIn(platform::Utf8ToText(shm));
    std::string remove = std::string("rm -rf ") + shm;
    EXPECT_EQ(std::system(remove.c_str()), 0);
  }
  if (::geteuid() != 0) GTEST_SKIP() << "ramfs needs root";
  const testing::TempFolder folder;
  const std::string mount_point = platform::TextToUtf8(folder.path());
  ASSERT_EQ(::mount("ramfs", mount_point.c_str(), "ramfs", 0, nullptr), 0);
  OverwriteEverySizeIn(folder.path());
  EXPECT_EQ(::umount2(mount_point.c_str(), MNT_DETACH), 0);
}

// The pages of the file that stand in the system's cache after the pass (mincore of a
// mapping): -1 when that cannot be told.
long CachedPages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status;
  long cached = -1;
  if (::fstat(fd, &status) == 0 && status.st_size > 0) {
    const auto size = static_cast<std::size_t>(status.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (map != MAP_FAILED) {
      const long page = ::sysconf(_SC_PAGESIZE);
      std::vector<unsigned char> resident((size + page - 1) / page);
      if (::mincore(map, size, resident.data()) == 0) {
        cached = static_cast<long>(
            std::count_if(resident.begin(), resident.end(), [](unsigned char c) { return c & 1; }));
      }
      ::munmap(map, size);
    }
  }
  ::close(fd);
  return cached;
}

// Whether the file at `path` lies on a file system whose cache is apart from its storage
// (not tmpfs or ramfs, whose pages are the file) and that takes O_DIRECT.
bool KeepsPagesApartFromStorage(const std::string& path) {
  constexpr long kTmpfs = 0x01021994, kRamfs = 0x858458f6;
  struct statfs volume;
  if (::statfs(path.c_str(), &volume) != 0 || volume.f_type == kTmpfs || volume.f_type == kRamfs) {
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Regression: the pass wrote a large file through the page cache, replacing what the user had
// cached with pages of zeros. Its body now goes past the cache: at most the page of the odd
// tail stays there.
TEST(OverwritePassOnDisk, AFilesBodyLeavesNoPagesInTheCache) {
  const testing::TempFolder folder;
  const Text path = folder / u"cached.bin";
  const std::string native = platform::TextToUtf8(path);
  constexpr std::uint64_t kSize = 4 * (1u << 20) + 123;
  ASSERT_TRUE(testing::WriteTestFile(path, Pattern(kSize)));
  if (!KeepsPagesApartFromStorage(native)) {
    GTEST_SKIP() << "the temporary folder's file system keeps files in the cache itself";
  }
  ASSERT_GT(CachedPages(native), 1000);  // just written: in the cache
  PassTools run(platform::SystemFileSystem());
  ASSERT_TRUE(OverwriteOnce(platform::SystemFileSystem(), path, run));
  EXPECT_LE(CachedPages(native), 1);
  std::string back;
  ASSERT_TRUE(testing::ReadTestFile(path, back));
  EXPECT_EQ(back.size(), kSize);
  EXPECT_EQ(back.find_first_not_of('\0'), std::string::npos);
}

// A sparse file on a real folder: its data, at offsets that are not on a block, is zeroed, and
// its holes stay holes (the pass allocates nothing new).
TEST(OverwritePassOnDisk, ASparseFilesDataIsZeroedAndItsHolesStayHoles) {
  const testing::TempFolder folder;
  const std::string path = platform::TextToUtf8(folder / u"sparse.bin");
  constexpr off_t kSize = 8 * (1 << 20) + 5;
  const std::string data = Pattern(300001);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, kSize), 0);
  for (const off_t at : {off_t{1000}, off_t{5 * (1 << 20) + 777}}) {
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), at), static_cast<ssize_t>(data.size()));
  }
  ASSERT_EQ(::fsync(fd), 0);
  ::close(fd);
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  if (before.st_blocks * 512 >= kSize) GTEST_SKIP() << "the file system keeps no holes";
  PassTools run(platform::SystemFileSystem());
  ASSERT_TRUE(OverwriteOnce(platform::SystemFileSystem(), platform::Utf8ToText(path), run));
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, kSize);
  EXPECT_LE(after.st_blocks, before.st_blocks);
  std::string back;
  ASSERT_TRUE(testing::ReadTestFile(platform::Utf8ToText(path), back));
  EXPECT_EQ(back.find_first_not_of('\0'), std::string::npos);
}

#endif  // _WIN32

}  // namespace
}  // namespace nulvane::engine
