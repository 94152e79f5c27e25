// Destroying exactly the selection on the real disk: a tree changed under the run, names that are
// not text, a mount inside a queued folder, a tree deeper than any path buffer, folders that
// cannot be read. Each test builds the list as the program does (AddPath, RebuildRows) and runs
// the deletion on it, or runs the console program itself.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <time.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "engine/deletion_run.h"
#include "engine/observing_file_system.h"
#include "item_test_support.h"
#include "items/item_list.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "support/fake_clock.h"
#include "support/process.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace nulvane::items {
namespace {

namespace stdfs = std::filesystem;
using nulvane::testing::ProcessResult;
using nulvane::testing::TempFolder;
using platform::TextToUtf8;
using platform::Utf8ToText;

std::string Native(const Text& path) { return TextToUtf8(path); }

// Plain system calls: std::filesystem cannot take a name that is not text.
bool Write(const Text& path, const std::string& bytes) {
  const int fd = ::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool written =
      ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && written;
}

std::string Read(const Text& path) {
  std::string bytes;
  const int fd = ::open(Native(path).c_str(), O_RDONLY);
  if (fd < 0) return "<missing>";
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
  ::close(fd);
  return bytes;
}

bool Exists(const Text& path) {
  struct stat status;
  return ::lstat(Native(path).c_str(), &status) == 0;
}

bool AnyLineHas(const std::vector<Text>& lines, const Text& part) {
  for (const Text& line : lines)
    if (line.find(part) != Text::npos) return true;
  return false;
}

class SelectionOnDisk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing::EnsureLanguageTable(); }

  Text Dir(TextView name) {
    const Text path = temp_ / name;
    stdfs::create_directories(stdfs::path(path));
    return path;
  }
  Text File(TextView name, const std::string& bytes) {
    const Text path = temp_ / name;
    EXPECT_TRUE(Write(path, bytes)) << Native(path);
    return path;
  }

  // Queues `paths` as the window and the console do, then runs one pass with no countdown.
  engine::RunResult Destroy(const std::vector<Text>& paths) {
    Queue(paths);
    return RunQueued();
  }
  void Queue(const std::vector<Text>& paths) {
    for (const Text& path : paths) list_.AddPath(path);
    list_.RebuildRows();
  }
  engine::RunResult RunQueued() {
    host_.SetQueuedItems(list_.SnapshotRows());
    engine::RunContext context(host_, fs_, clock_, flags_);
    context.passes = 1;
    context.delay = 0;
    engine::RunResult result;
    // On a thread of its own, as the program runs it.
    std::thread worker([&] { result = engine::RunDeletion(context); });
    worker.join();
    return result;
  }

  std::vector<Text> Refusals() const {
    std::vector<Text> lines = host_.MessagesOfKind(engine::MessageKind::kWarning);
    for (const Text& line : host_.MessagesOfKind(engine::MessageKind::kError))
      lines.push_back(line);
    return lines;
  }

  TempFolder temp_;
  nulvane::testing::ObservingFileSystem fs_;
  testing::RecordingDisplay display_;
  ItemList list_{fs_, display_};
  nulvane::testing::RecordingHost host_;
  nulvane::testing::FakeClock clock_;
  engine::RunFlags flags_;
};

// The first file destroyed is "sel/zz" (last in the list); when it is opened, the hostile
// neighbour swaps "sel/sub" for something else. Nothing outside the selection may change.
TEST_F(SelectionOnDisk, SubfolderSwappedDuringTheRunIsNeverEnteredWhetherLinkOrFolder) {
  const Text outside = Dir(u"outside");
  const Text precious = File(u"outside/f.txt", "precious");
  Dir(u"sel/link");
  File(u"sel/link/f.txt", "listed");
  Dir(u"sel/real");
  File(u"sel/real/f.txt", "listed");
  File(u"sel/zz", "first");
  const Text sel = temp_ / u"sel";
  Queue({sel});
  bool swapped = false;
  // While the run adds up its total (its first look at "zz", before it touches any item): the
  // run destroys several small files at once, so a swap at the first item's open could come
  // after the listed files had gone.
  fs_.before_inspect = [&](const Text& path) {
    if (swapped || path != temp_ / u"sel/zz") return;
    swapped = true;
    // A link where a listed folder stood, and a new real folder with a new file in its place.
    stdfs::rename(stdfs::path(temp_ / u"sel/link"), stdfs::path(temp_ / u"moved-link"));
    stdfs::create_directory_symlink(stdfs::path(outside), stdfs::path(temp_ / u"sel/link"));
    stdfs::rename(stdfs::path(temp_ / u"sel/real"), stdfs::path(temp_ / u"moved-real"));
    stdfs::create_directory(stdfs::path(temp_ / u"sel/real"));
    Write(temp_ / u"sel/real/f.txt", "put in its place");
  };
  const engine::RunResult result = RunQueued();

  EXPECT_TRUE(swapped);
  EXPECT_EQ(Read(precious), "precious");
  // "sel" could not be removed (it is not empty) and stands under a random name now.
  Text kept;
  for (const auto& entry : stdfs::directory_iterator(stdfs::path(temp_.path()))) {
    const Text name = entry.path().filename().u16string();
    if (name != u"outside" && name != u"moved-link" && name != u"moved-real") kept = name;
  }
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(Read(temp_ / (kept + u"/real/f.txt")), "put in its place");
  EXPECT_TRUE(Exists(temp_ / (kept + u"/link")));  // the link was not the listed folder either
  EXPECT_FALSE(Exists(temp_ / (kept + u"/zz")));
  EXPECT_EQ(Read(temp_ / u"moved-real/f.txt"), "listed");  // moved out of the tree: not ours
  EXPECT_GE(result.error_count, 3);
  const std::vector<Text> refusals = Refusals();
  EXPECT_TRUE(AnyLineHas(refusals, temp_ / u"sel/link/f.txt"));
  EXPECT_TRUE(AnyLineHas(refusals, temp_ / u"sel/real/f.txt"));
  EXPECT_NE(host_.LastStatus().find(u"Error: "), Text::npos);
  EXPECT_EQ(host_.LastStatus().find(u"Error: 0 "), Text::npos);
}

// Removes the entry at `path` and makes a new one there with `make` (a file or a folder) that
// the file system gave the removed entry's inode number, as it does with a number it freed.
// False when this file system did not hand the number out again within a few hundred tries.
bool ReplaceReusingInode(const Text& path, const std::function<bool(const Text&)>& make) {
  struct stat old;
  if (::lstat(Native(path).c_str(), &old) != 0) return false;
  if (S_ISDIR(old.st_mode) ? ::rmdir(Native(path).c_str()) != 0
                           : ::unlink(Native(path).c_str()) != 0) {
    return false;
  }
  const Text folder = path.substr(0, path.rfind(u'/'));
  std::vector<Text> spares;
  bool reused = false;
  for (int i = 0; i < 300 && !reused; ++i) {
    const Text candidate = folder + u"/.spare" + Utf8ToText(std::to_string(i));
    struct stat made;
    if (!make(candidate) || ::lstat(Native(candidate).c_str(), &made) != 0) break;
    if (made.st_ino == old.st_ino) {
      reused = ::rename(Native(candidate).c_str(), Native(path).c_str()) == 0;
    } else {
      spares.push_back(candidate);
    }
  }
  for (const Text& spare : spares) stdfs::remove_all(stdfs::path(spare));
  return reused;
}

bool MakeFileHolding(const Text& path, const std::string& bytes) { return Write(path, bytes); }
bool MakeFolder(const Text& path) { return ::mkdir(Native(path).c_str(), 0755) == 0; }

// Regression: the identity was device + inode only. A listed file removed during the countdown
// and replaced by a new one, which the file system gave the same inode number, passed the check
// and was destroyed; a new folder in its place was stamped and renamed.
TEST_F(SelectionOnDisk, ANewObjectGivenTheListedInodeNumberIsLeftUntouched) {
  Dir(u"sel");
  const Text a = File(u"sel/a", "OLD");
  const Text b = File(u"sel/b", "OLD");
  Queue({a, b});
  bool reused = false;
  fs_.before_inspect = [&, replaced = std::set<Text>()](const Text& path) mutable {
    if (!replaced.insert(path).second) return;
    if (path == a) {
      reused = ReplaceReusingInode(a, [](const Text& p) { return MakeFileHolding(p, "NEW"); });
    } else if (path == b) {
      // Folders are placed apart from files: the number may well not come back for one.
      if (!ReplaceReusingInode(b, MakeFolder)) MakeFolder(b);
    }
  };
  const struct timespec before = [] {
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
  }();
  const engine::RunResult result = RunQueued();
  if (!reused) GTEST_SKIP() << "this file system gave no inode number out again";

  EXPECT_EQ(Read(a), "NEW");
  struct stat folder;
  ASSERT_EQ(::lstat(Native(b).c_str(), &folder), 0) << "the new folder was renamed";
  EXPECT_TRUE(S_ISDIR(folder.st_mode));
  EXPECT_GE(folder.st_mtim.tv_sec, before.tv_sec - 1) << "the new folder was stamped";
  EXPECT_EQ(result.error_count, 2);
  EXPECT_TRUE(AnyLineHas(Refusals(), a));
  EXPECT_TRUE(AnyLineHas(Refusals(), b));
}

// Regression: with "link/sel" queued, the neighbour removed A/sel during the countdown, made
// B/sel (which took the freed inode number) and turned "link" to B: B/sel, in a folder nobody
// chose, was destroyed. The folder "link/" led to when the path was added is held to its
// identity, and so is the file.
TEST_F(SelectionOnDisk, AQueuedPathWhoseLinkWasTurnedElsewhereTouchesNothingThere) {
  const Text folder_a = Dir(u"A");
  const Text folder_b = Dir(u"B");
  File(u"A/sel", "listed");
  const Text link = temp_ / u"link";
  stdfs::create_directory_symlink(stdfs::path(folder_a), stdfs::path(link));
  Queue({link + u"/sel"});
  bool reused = true;
  bool turned = false;
  fs_.before_inspect = [&](const Text&) {
    if (turned) return;
    turned = true;
    // The new file is made in A, where the freed number is handed out, then moved to B.
    reused = ReplaceReusingInode(folder_a + u"/sel",
                                 [](const Text& p) { return MakeFileHolding(p, "NEW-UNLISTED"); });
    stdfs::rename(stdfs::path(folder_a + u"/sel"), stdfs::path(folder_b + u"/sel"));
    stdfs::create_directory_symlink(stdfs::path(folder_b), stdfs::path(temp_ / u"link2"));
    stdfs::rename(stdfs::path(temp_ / u"link2"), stdfs::path(link));
  };
  const engine::RunResult result = RunQueued();
  EXPECT_TRUE(reused) << "the inode number was not handed out again; the check still held";
  EXPECT_EQ(Read(folder_b + u"/sel"), "NEW-UNLISTED");
  EXPECT_EQ(result.error_count, 1);
  EXPECT_TRUE(AnyLineHas(Refusals(), link + u"/sel"));
}

// Regression: an entry that could not be examined while the list was built (its folder was
// swapped for a link) kept no identity, and an unknown identity admitted anything: a real
// folder with a new file put in the link's place during the countdown lost that file, while
// the listed one survived elsewhere.
TEST_F(SelectionOnDisk, AnEntryThatCouldNotBeExaminedWhenListedIsNeverChanged) {
  const Text outside = Dir(u"outside");
  Dir(u"sel/sub");
  File(u"sel/sub/f.txt", "listed");
  const Text sel = temp_ / u"sel";
  list_.AddPath(sel + u"/sub");
  // Between the listing and the first look at the rows: the folder becomes a link.
  stdfs::rename(stdfs::path(sel + u"/sub"), stdfs::path(temp_ / u"moved"));
  stdfs::create_directory_symlink(stdfs::path(outside), stdfs::path(sel + u"/sub"));
  list_.RebuildRows();
  EXPECT_TRUE(AnyLineHas(display_.warnings, sel + u"/sub/f.txt"));
  // During the countdown: a real folder with a new file where the link stood.
  stdfs::remove(stdfs::path(sel + u"/sub"));
  Dir(u"sel/sub");
  File(u"sel/sub/f.txt", "put in its place");

  const engine::RunResult result = RunQueued();
  EXPECT_EQ(Read(sel + u"/sub/f.txt"), "put in its place");
  EXPECT_EQ(Read(temp_ / u"moved/f.txt"), "listed");
  const Text never_examined =
      platform::Format(lang::Txt(lang::TextId::kNotExamined), sel + u"/sub/f.txt");
  EXPECT_TRUE(AnyLineHas(Refusals(), never_examined));
  EXPECT_EQ(result.error_count, 2);  // the file, and the folder that is not the listed one
}

// The same replacement made from outside during the console's real countdown.
TEST_F(SelectionOnDisk, AFileReplacedDuringTheConsoleCountdownIsLeftUntouched) {
  Dir(u"sel");
  const Text a = File(u"sel/a", "OLD");
  ProcessResult result;
  std::thread run([&] {
    result = nulvane::testing::RunProgram(nulvane::testing::CliPath(), {u"-d", u"2", a});
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const bool reused =
      ReplaceReusingInode(a, [](const Text& p) { return MakeFileHolding(p, "NEW-UNLISTED"); });
  run.join();
  EXPECT_EQ(Read(a), "NEW-UNLISTED");
  EXPECT_EQ(result.exit_code, 1) << result.out << result.err;
  EXPECT_NE(result.err.find("sel/a"), std::string::npos) << result.err;
  if (!reused) std::fprintf(stderr, "note: the inode number was not handed out again\n");
}

TEST_F(SelectionOnDisk, SwapDuringTheConsoleCountdownIsRefused) {
  const Text outside = Dir(u"outside");
  const Text precious = File(u"outside/f.txt", "precious");
  Dir(u"sel/sub");
  File(u"sel/sub/f.txt", "listed");
  const Text sel = temp_ / u"sel";
  ProcessResult result;
  std::thread run([&] {
    result = nulvane::testing::RunProgram(nulvane::testing::CliPath(), {u"-d", u"2", u"-q", sel});
  });
  // The list is made at once; the countdown gives the neighbour two seconds.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  stdfs::rename(stdfs::path(temp_ / u"sel/sub"), stdfs::path(temp_ / u"moved"));
  stdfs::create_directory_symlink(stdfs::path(outside), stdfs::path(temp_ / u"sel/sub"));
  run.join();
  EXPECT_EQ(Read(precious), "precious");
  EXPECT_EQ(result.exit_code, 1) << result.err;
  EXPECT_NE(result.err.find("sub/f.txt"), std::string::npos) << result.err;
}

TEST_F(SelectionOnDisk, NamesThatAreNotUtf8AreDestroyedByteForByteAndShownEscaped) {
  const std::string base = Native(temp_.path());
  // "r" + 0xFF, and the neighbour its lossy decoding would name: "r" + U+FFFD.
  ASSERT_TRUE(Write(Utf8ToText(base + "/r\xFF"), "bytes"));
  ASSERT_TRUE(Write(Utf8ToText(base + "/r\xEF\xBF\xBD"), "neighbour"));
  ASSERT_EQ(::mkdir((base + "/folder").c_str(), 0755), 0);
  ASSERT_TRUE(Write(Utf8ToText(base + "/folder/n\xFE\xC3"), "inside"));

  const ProcessResult listed =
      nulvane::testing::RunProgram(nulvane::testing::CliPath(), {u"--list", temp_ / u"folder"});
  EXPECT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_NE(listed.out.find("folder/n\\xFE\\xC3"), std::string::npos) << listed.out;

  const ProcessResult destroyed = nulvane::testing::RunProgram(
      nulvane::testing::CliPath(),
      {u"-d", u"0", u"-q", Utf8ToText(base + "/r\xFF"), temp_ / u"folder"});
  EXPECT_EQ(destroyed.exit_code, 0) << destroyed.err;
  EXPECT_FALSE(Exists(Utf8ToText(base + "/r\xFF")));
  EXPECT_FALSE(Exists(temp_ / u"folder"));
  EXPECT_EQ(Read(Utf8ToText(base + "/r\xEF\xBF\xBD")), "neighbour");
}

// Unmounts on every way out of the test. The run may leave the mount point's folder under a
// random name, so every mount below the test's folder is taken down, wherever it stands now.
class BindMount {
 public:
  BindMount(const Text& source, const Text& target, const Text& below)
      : below_(Native(below) + "/") {
    mounted_ =
        ::mount(Native(source).c_str(), Native(target).c_str(), nullptr, MS_BIND, nullptr) == 0;
  }
  ~BindMount() {
    if (!mounted_) return;
    std::FILE* table = std::fopen("/proc/self/mountinfo", "r");
    if (!table) return;
    std::vector<std::string> points;
    char line[4096];
    while (std::fgets(line, sizeof line, table)) {
      // Fields: id, parent, major:minor, root, mount point, ...
      char point[4096];
      if (std::sscanf(line, "%*s %*s %*s %*s %4095s", point) == 1 &&
          std::string(point).rfind(below_, 0) == 0) {
        points.emplace_back(point);
      }
    }
    std::fclose(table);
    for (const std::string& point : points) ::umount2(point.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string below_;
  bool mounted_ = false;
};

TEST_F(SelectionOnDisk, AMountInsideAQueuedFolderIsListedWithAWarningAndNeverEntered) {
  if (::geteuid() != 0) GTEST_SKIP() << "a bind mount needs root";
  const Text other = Dir(u"other-volume");
  const Text precious = File(u"other-volume/f.txt", "precious");
  Dir(u"sel/mnt");
  File(u"sel/own.txt", "mine");
  BindMount mount(other, temp_ / u"sel/mnt", temp_.path());
  if (!mount.mounted()) GTEST_SKIP() << "bind mounts cannot be made here";

  const engine::RunResult result = Destroy({temp_ / u"sel"});
  EXPECT_TRUE(AnyLineHas(display_.warnings, temp_ / u"sel/mnt"));
  EXPECT_EQ(list_.RecordedSize(temp_ / u"sel/mnt/f.txt"), std::nullopt);
  EXPECT_EQ(Read(precious), "precious");
  EXPECT_FALSE(Exists(temp_ / u"sel/own.txt"));
  EXPECT_TRUE(AnyLineHas(Refusals(), temp_ / u"sel/mnt"));
  EXPECT_GE(result.error_count, 1);
}

// Makes `levels` nested folders "d" below `root`, through descriptors (the path soon passes
// what one system call takes), with a file at every 1000th level and at the bottom.
bool MakeDeepTree(const Text& root, int levels) {
  int fd = ::open(Native(root).c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < levels && fd >= 0; ++level) {
    if (::mkdirat(fd, "d", 0755) != 0) break;
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    if ((level % 1000 == 0 || level == levels - 1) && next >= 0) {
      const int file = ::openat(next, "f", O_WRONLY | O_CREAT | O_EXCL, 0644);
      if (file < 0 || ::write(file, "data", 4) != 4) return false;
      ::close(file);
    }
    ::close(fd);
    fd = next;
    if (level == levels - 1) {
      ::close(fd);
      return true;
    }
  }
  if (fd >= 0) ::close(fd);
  return false;
}

TEST_F(SelectionOnDisk, ATreeOfTenThousandLevelsIsListedAndDestroyedWhole) {
  const Text root = Dir(u"deep");
  ASSERT_TRUE(MakeDeepTree(root, 10000));
  const engine::RunResult result = Destroy({root});
  const bool gone = !Exists(root);
  if (!gone) {
    // Whatever stays must not outlive the test; rm walks by descriptors too.
    (void)std::system(("rm -rf '" + Native(root) + "'").c_str());
  }
  EXPECT_TRUE(display_.warnings.empty()) << Native(display_.warnings.front());
  EXPECT_EQ(result.error_count, 0) << Native(Refusals().front());
  EXPECT_EQ(result.items_done, 10000 + 11 + 1);  // folders, files, the root
  EXPECT_TRUE(gone);
}

TEST_F(SelectionOnDisk, FoldersAnOrdinaryUserCannotReadAreNamedNotSkipped) {
  Dir(u"sel/locked");
  File(u"sel/locked/hidden.txt", "x");
  Dir(u"sel/no-search");
  File(u"sel/no-search/inside.txt", "x");
  File(u"sel/plain.txt", "x");
  const Text sel = temp_ / u"sel";
  std::vector<Text> command;
  Text program = nulvane::testing::CliPath();
  if (::geteuid() == 0) {
    // As root every folder can be read: the test runs the program as "nobody".
    const std::string owner = "65534:65534";
    if (std::system(("chown -R " + owner + " '" + Native(temp_.path()) + "'").c_str()) != 0) {
      GTEST_SKIP() << "cannot give the tree to nobody";
    }
    ::chmod(Native(temp_.path()).c_str(), 0755);
    command = {u"--reuid=65534", u"--regid=65534", u"--clear-groups", program};
    program = u"/usr/bin/setpriv";
    if (!Exists(program)) GTEST_SKIP() << "setpriv is not installed";
  }
  ::chmod(Native(temp_ / u"sel/locked").c_str(), 0);
  ::chmod(Native(temp_ / u"sel/no-search").c_str(), 0600);
  command.push_back(u"--list");
  command.push_back(sel);
  const ProcessResult listed = nulvane::testing::RunProgram(program, command);
  // Given back so that the temporary folder can be removed.
  ::chmod(Native(temp_ / u"sel/locked").c_str(), 0755);
  ::chmod(Native(temp_ / u"sel/no-search").c_str(), 0755);
  if (listed.err.find("Operation not permitted") != std::string::npos) {
    GTEST_SKIP() << "cannot switch user here: " << listed.err;
  }
  EXPECT_EQ(listed.exit_code, 1) << listed.out << listed.err;
  EXPECT_NE(listed.err.find("sel/locked: "), std::string::npos) << listed.err;
  EXPECT_NE(listed.err.find("sel/no-search"), std::string::npos) << listed.err;
  EXPECT_NE(listed.out.find("sel/plain.txt"), std::string::npos) << listed.out;
}

}  // namespace
}  // namespace nulvane::items

#endif  // _WIN32
