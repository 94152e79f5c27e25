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

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/deletion_run.h"
#include "engine/observing_file_system.h"
#include "item_test_support.h"
#include "items/item_list.h"
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
    for (const Text& path : paths) list_.AddPath(path);
    list_.RebuildRows();
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
  bool swapped = false;
  fs_.before_open = [&](const Text& path) {
    if (swapped || path != temp_ / u"sel/zz") return;
    swapped = true;
    // A link where a listed folder stood, and a new real folder with a new file in its place.
    stdfs::rename(stdfs::path(temp_ / u"sel/link"), stdfs::path(temp_ / u"moved-link"));
    stdfs::create_directory_symlink(stdfs::path(outside), stdfs::path(temp_ / u"sel/link"));
    stdfs::rename(stdfs::path(temp_ / u"sel/real"), stdfs::path(temp_ / u"moved-real"));
    stdfs::create_directory(stdfs::path(temp_ / u"sel/real"));
    Write(temp_ / u"sel/real/f.txt", "put in its place");
  };
  const engine::RunResult result = Destroy({sel});

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
