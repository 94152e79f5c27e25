// End-to-end on POSIX only: Ctrl+C (SIGINT) during the countdown and after it, the fill on a
// small dedicated volume (and killed there), names that hold control characters, a hostile settings
// file and the random names seen from outside.
#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "support/loop_volume.h"
#include "support/process.h"
#include "support/temp_folder.h"

extern char** environ;

namespace nulvane::testing {
namespace {

namespace fs = std::filesystem;

// A running nulvane-cli whose standard output is read line by line.
class RunningCli {
 public:
  explicit RunningCli(std::vector<std::string> args, const Text& program = CliPath()) {
    args.insert(args.begin(), platform::TextToUtf8(program));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    EXPECT_EQ(posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~RunningCli() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
    close(out_);
  }

  // Reads until `text` has appeared in the output (or the output ends).
  bool WaitFor(const std::string& text) {
    char buffer[512];
    while (output_.find(text) == std::string::npos) {
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  void Interrupt() { kill(pid_, SIGINT); }
  // Ends the program at once, as SIGKILL does: nothing of its own runs any more.
  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }
  // Waits for the end, but ends a program that hangs after `limit` (and returns -1): a test of
  // something that used to hang fails instead of stopping the suite.
  int WaitAtMost(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        Wait();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    char buffer[512];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) > 0)
      output_.append(buffer, static_cast<std::size_t>(n));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    char buffer[512];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) > 0)
      output_.append(buffer, static_cast<std::size_t>(n));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

TEST(CliInterrupt, CtrlCDuringTheCountdownTouchesNothing) {
  TempFolder folder;
  fs::create_directories(fs::path(folder / u"tree") / "sub");
  WriteTestFile(folder / u"tree" + u"/sub/data.bin", std::string(100000, 'Z'));
  const auto stamp = fs::last_write_time(fs::path(folder / u"tree" + u"/sub/data.bin"));
  RunningCli cli({"-d", "5", "-L", "1", platform::TextToUtf8(folder / u"tree")});
  ASSERT_TRUE(cli.WaitFor("Abort with Ctrl+C")) << cli.output();
  cli.Interrupt();
  EXPECT_EQ(cli.Wait(), 3) << cli.output();
  EXPECT_NE(cli.output().find("Warning: Abort // [ESC]"), std::string::npos) << cli.output();
  std::string content;
  ASSERT_TRUE(ReadTestFile(folder / u"tree" + u"/sub/data.bin", content));
  EXPECT_EQ(content, std::string(100000, 'Z'));
  EXPECT_EQ(fs::last_write_time(fs::path(folder / u"tree" + u"/sub/data.bin")), stamp);
}

TEST(CliInterrupt, CtrlCAfterTheCountdownFinishesTheItemAndReportsTheRest) {
  TempFolder folder;
  fs::create_directories(fs::path(folder / u"many"));
  for (int i = 0; i < 400; ++i) {
    WriteTestFile(folder / u"many" + u"/f" + platform::Utf8ToText(std::to_string(1000 + i)),
                  std::string(64 * 1024, 'x'));
  }
  RunningCli cli({"-d", "0", "-p", "10", "-L", "1", platform::TextToUtf8(folder / u"many")});
  ASSERT_TRUE(cli.WaitFor("Total")) << cli.output();
  cli.Interrupt();
  EXPECT_EQ(cli.Wait(), 3) << cli.output();
  EXPECT_NE(cli.output().find("items left untouched"), std::string::npos) << cli.output();
  // The files not reached are intact; none is half-destroyed under its own name.
  int intact = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(folder / u"many"))) {
    std::string content;
    ReadTestFile(entry.path().u16string(), content);
    const std::string name = entry.path().filename().string();
    if (name[0] == 'f') {
      EXPECT_EQ(content, std::string(64 * 1024, 'x')) << name;
      ++intact;
    }
  }
  EXPECT_GT(intact, 0);
}

// A fill only ever runs on a small volume of its own: a tmpfs mounted for the test.
TEST(CliFill, FillsADedicatedVolumeAndCleansUp) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a 4 MiB tmpfs needs root";
  TempFolder folder;
  const std::string mount_point = platform::TextToUtf8(folder.path());
  if (mount("nulvane-test", mount_point.c_str(), "tmpfs", 0, "size=4m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here";
  fs::create_directories(fs::path(mount_point) / "data");
  WriteTestFile(folder / u"data" + u"/keep.txt", "keep");
  ProcessResult result = RunProgram(CliPath(), {u"--fill", folder / u"data", u"-L", u"1"});
  std::string kept;
  ReadTestFile(folder / u"data" + u"/keep.txt", kept);
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(mount_point)))
    ++entries;
  umount(mount_point.c_str());
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_EQ(kept, "keep");
  EXPECT_EQ(entries, 1) << "the fill folder was removed";
  EXPECT_NE(result.out.find("File:"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Ready"), std::string::npos);
}

std::uint64_t FreeBytes(const std::string& path) {
  struct statvfs volume;
  if (statvfs(path.c_str(), &volume) != 0) return 0;
  return static_cast<std::uint64_t>(volume.f_bfree) * volume.f_frsize;
}

// /sys/fs/ext4/<device>/reserved_clusters of the volume at `path` ("" where there is none).
std::string ReservedClusters(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return {};
  char link[64];
  std::snprintf(link, sizeof link, "/sys/dev/block/%u:%u", major(status.st_dev),
                minor(status.st_dev));
  std::error_code error;
  const fs::path device = fs::read_symlink(link, error);
  if (error) return {};
  std::string value;
  ReadTestFile(
      platform::Utf8ToText("/sys/fs/ext4/" + device.filename().string() + "/reserved_clusters"),
      value);
  return value;
}

// Regression: a fill killed with SIGKILL left its file and folder behind and the volume 100 %
// full, and ext4's reserved clusters at the 0 the fill had set for its run. Now no system
// setting is touched, the fill's files have no names (their space comes back with the
// process), and the next fill names the empty folder that is left.
TEST(CliFill, AFillKilledMidwayLeavesTheVolumeItsSpaceAndTheSettingAsItWas) {
  LoopVolume volume("ext4", 64);
  if (!volume.ready()) GTEST_SKIP() << volume.skip_reason();
  const std::string mount = volume.mount_point();
  const std::uint64_t free_before = FreeBytes(mount);
  const std::string reserved_before = ReservedClusters(mount);
  {
    RunningCli fill({"--fill", mount, "-L", "1"});
    ASSERT_TRUE(fill.WaitFor("File:")) << fill.output();
    for (int i = 0; i < 500 && FreeBytes(mount) > free_before / 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_LT(FreeBytes(mount), free_before / 2) << "the fill did not take the space";
    EXPECT_EQ(ReservedClusters(mount), reserved_before) << "changed while the fill ran";
    fill.Kill();
  }
  ::sync();
  EXPECT_GE(FreeBytes(mount), free_before - (1u << 20)) << "the space did not come back";
  EXPECT_EQ(ReservedClusters(mount), reserved_before);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(fs::path(mount))) {
    if (entry.path().filename() == "lost+found") continue;
    left.push_back(entry.path().filename().string());
    EXPECT_TRUE(fs::is_empty(entry.path())) << entry.path();
  }
  ASSERT_EQ(left.size(), 1u) << "only the empty fill folder stays";

  RunningCli again({"--fill", mount, "-L", "1"});
  EXPECT_EQ(again.Wait(), 0) << again.output();
  EXPECT_NE(again.output().find(mount + "/" + left[0] + ": a folder an earlier fill left behind"),
            std::string::npos)
      << again.output();
  EXPECT_TRUE(fs::exists(fs::path(mount) / left[0])) << "named, never removed on a guess";
}

// The bytes a terminal acts on: C0 but the line end, DEL, and C1 (U+0080..U+009F in UTF-8).
bool HoldsControlBytes(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\n') || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F)
      return true;
  }
  return false;
}

// Regression: --list and the warning lines printed names raw, so that a name could set the
// window title, ring the bell, erase the lines above it or start a C1 control sequence.
TEST(CliNames, ControlCharactersInNamesArePrintedAsEscapes) {
  TempFolder folder;
  const std::string root = platform::TextToUtf8(folder / u"tree");
  const std::string hostile =
      "t\x1B]0;owned\x07\x1B[2J\r\b\xC2\x9B"
      "31m";
  fs::create_directories(root + "/" + hostile);
  WriteTestFile(platform::Utf8ToText(root + "/" + hostile + "/back\\x1B"), "x");
  const std::string missing = root + "/gone\x1B[1A\x1B[2K";

  RunningCli list({"--list", "-L", "1", root, missing});
  EXPECT_EQ(list.Wait(), 1) << list.output();
  EXPECT_FALSE(HoldsControlBytes(list.output())) << list.output();
  EXPECT_NE(list.output().find("t\\x1B]0;owned\\x07\\x1B[2J\\x0D\\x08\\xC2\\x9B31m"),
            std::string::npos)
      << list.output();
  EXPECT_NE(list.output().find("back\\\\x1B"), std::string::npos) << "a backslash is doubled";
  EXPECT_NE(list.output().find("gone\\x1B[1A\\x1B[2K: not found"), std::string::npos);

  RunningCli run({"-d", "0", "-L", "1", root});
  EXPECT_EQ(run.Wait(), 0) << run.output();
  EXPECT_FALSE(HoldsControlBytes(run.output())) << run.output();
  EXPECT_FALSE(PathExists(folder / u"tree"));
}

// A file of `size` bytes (sparse where large) under a name given as bytes.
void MakeFileOfSize(const std::string& path, off_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(ftruncate(fd, size), 0) << path;
  close(fd);
}

// The listing of names of every kind, byte for byte: text, invalid UTF-8 (shown as the bytes
// it holds), control characters and backslashes (escaped), characters of two to four bytes,
// sizes of every unit; and enough rows that the output goes out in several gathered writes.
TEST(CliNames, ListingShowsEveryKindOfNameExactly) {
  TempFolder folder;
  const std::string root = platform::TextToUtf8(folder / u"r");
  ASSERT_TRUE(fs::create_directory(root));
  const std::pair<const char*, off_t> files[] = {
      {"plain.txt", 0},
      {"with space  two", 1},
      {"tab\there", 3},
      {"esc\x1B[31m", 1023},
      {"bad\xFF\xFE", 1024},
      {"lone\xC3", 0},
      {"overlong\xC0\xAF", 0},
      {"surrogate\xED\xA0\x80", 0},
      {"caf\xC3\xA9", 0},
      {"\xE4\xB8\xAD\xE6\x96\x87", 0},
      {"emoji\xF0\x9F\x98\x80", 0},
      {"back\\slash", 0},
      {"del\x7F", 0},
      {"c1\xC2\x9B", 0},
      {"nbsp\xC2\xA0", 0},
      {"Upper\xC3\x89", 0},
      {"big", 1000000},
      {"huge", 5000000000},
  };
  for (const auto& [name, size] : files) MakeFileOfSize(root + "/" + name, size);
  ASSERT_TRUE(fs::create_directory(root + "/dir \xFF"));
  MakeFileOfSize(root + "/dir \xFF/inner", 1536);
  ASSERT_TRUE(fs::create_directory(root + "/many"));
  constexpr int kMany = 1500;
  for (int i = 0; i < kMany; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/many/n%04d \xC3\xA9", i);
    MakeFileOfSize(root + name, i % 3 == 0 ? 0 : 2048);
  }

  std::string expected;
  auto row = [&](const char* size, const std::string& rest) {
    expected += std::string(size) + "  " + root + rest + "\n";
  };
  row("       <DIR>", "");
  row("    0.0 byte", "/Upper\xC3\x89");
  row("    0.0 byte", "/back\\\\slash");
  row("      1.0 KB", "/bad\\xFF\\xFE");
  row("      1.0 MB", "/big");
  row("    0.0 byte", "/c1\\xC2\\x9B");
  row("    0.0 byte", "/caf\xC3\xA9");
  row("    0.0 byte", "/del\\x7F");
  row("       <DIR>", "/dir \\xFF");
  row("      1.5 KB", "/dir \\xFF/inner");
  row("    0.0 byte", "/emoji\xF0\x9F\x98\x80");
  row("      1.0 KB", "/esc\\x1B[31m");
  row("      4.7 GB", "/huge");
  row("    0.0 byte", "/lone\\xC3");
  row("       <DIR>", "/many");
  for (int i = 0; i < kMany; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/many/n%04d \xC3\xA9", i);
    row(i % 3 == 0 ? "    0.0 byte" : "      2.0 KB", name);
  }
  row("    0.0 byte", "/nbsp\xC2\xA0");
  row("    0.0 byte", "/overlong\\xC0\\xAF");
  row("    0.0 byte", "/plain.txt");
  row("    0.0 byte", "/surrogate\\xED\\xA0\\x80");
  row("    3.0 byte", "/tab\\x09here");
  row("    1.0 byte", "/with space  two");
  row("    0.0 byte", "/\xE4\xB8\xAD\xE6\x96\x87");
  expected += "Items:1522 // Total: 4.7 GB\n";

  RunningCli list({"--list", root});
  // The output is larger than a pipe holds: it is read while the program writes it.
  list.WaitFor("Items:");
  EXPECT_EQ(list.WaitAtMost(std::chrono::seconds(60)), 0) << list.output();
  EXPECT_EQ(list.output(), expected);
}

// Regression: -q dropped the line with the system's reason and left a bare "Error: <path>".
TEST(CliLines, QuietKeepsTheReasonAndTheLeftBehindNameOfAnError) {
  TempFolder folder;
  fs::create_directories(fs::path(folder / u"sel"));
  // The file has another name outside the selection: it is kept, so its folder is not empty.
  WriteTestFile(folder / u"sel" + u"/shared", "shared");
  fs::create_hard_link(fs::path(folder / u"sel" + u"/shared"), fs::path(folder / u"outside"));
  const ProcessResult result =
      RunProgram(CliPath(), {u"-q", u"-d", u"0", u"-L", u"1", folder / u"sel"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_TRUE(result.out.empty()) << result.out;
  const std::string folder_line = "Error: 0 <dir>" + platform::TextToUtf8(folder / u"sel") + "\n";
  const std::size_t error_at = result.err.find(folder_line);
  ASSERT_NE(error_at, std::string::npos) << result.err;
  // Right after its error line: the reason, then where the folder stands now.
  const std::string after = result.err.substr(error_at + folder_line.size());
  EXPECT_EQ(after.rfind("Info: Reason: " + std::string(std::strerror(ENOTEMPTY)) + "\n", 0), 0u)
      << result.err;
  EXPECT_NE(after.find(": left behind under the name "), std::string::npos) << result.err;
}

// A copy of nulvane-cli in a folder of its own, so that a test can put a settings file beside
// it without touching the build's.
class CliCopy {
 public:
  CliCopy() {
    fs::copy_file(fs::path(platform::TextToUtf8(CliPath())),
                  fs::path(platform::TextToUtf8(path())));
  }
  Text path() const { return folder_ / u"nulvane-cli"; }
  Text settings() const { return folder_ / u"nulvane-cli.ini"; }
  const TempFolder& folder() const { return folder_; }

 private:
  TempFolder folder_;
};

// Regression: the settings file as a link to /dev/zero ended in std::bad_alloc, as a FIFO the
// program never started. Either way it starts at once with the defaults and one warning.
TEST(CliSettings, ADeviceOrAFifoAsTheSettingsFileGivesTheDefaultsAndOneWarning) {
  CliCopy cli;
  const std::string ini = platform::TextToUtf8(cli.settings());
  for (const bool fifo : {false, true}) {
    std::remove(ini.c_str());
    ASSERT_EQ(fifo ? mkfifo(ini.c_str(), 0600) : symlink("/dev/zero", ini.c_str()), 0);
    const Text file = cli.folder() / u"data.bin";
    WriteTestFile(file, std::string(5000, 'D'));
    RunningCli run({"-d", "0", "-L", "1", platform::TextToUtf8(file)}, cli.path());
    EXPECT_EQ(run.WaitAtMost(std::chrono::seconds(60)), 0) << run.output();
    const std::string& output = run.output();
    EXPECT_FALSE(PathExists(file)) << output;
    const std::string warning = "Warning: " + ini + ": the settings file is not a regular file";
    EXPECT_EQ(output.find(warning), output.rfind(warning)) << output;
    EXPECT_NE(output.find(warning), std::string::npos) << output;
  }
}

// The names a run gave the file `name` in `folder`, in order, as inotify saw them arrive.
std::vector<std::string> NamesGivenInOneRun(const Text& folder, const std::string& name) {
  const std::string dir = platform::TextToUtf8(folder);
  WriteTestFile(folder + u"/" + platform::Utf8ToText(name), "secret");
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(watch, 0);
  EXPECT_GE(inotify_add_watch(watch, dir.c_str(), IN_MOVED_TO), 0);
  const ProcessResult result =
      RunProgram(CliPath(), {u"-q", u"-d", u"0", folder + u"/" + platform::Utf8ToText(name)});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[8192];
  ssize_t n;
  while ((n = read(watch, buffer, sizeof buffer)) > 0) {
    for (char* at = buffer; at < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len > 0) names.emplace_back(event->name);
      at += sizeof(inotify_event) + event->len;
    }
  }
  close(watch);
  return names;
}

// Regression: every process drew the same seven names, so they could be foreseen and created
// beforehand to keep a file under a name of someone else's choosing.
TEST(CliNames, TwoRunsGiveTheSameFileDifferentRandomNames) {
  TempFolder folder;
  const std::string name = "report.old.doc";
  const std::vector<std::string> first = NamesGivenInOneRun(folder.path(), name);
  const std::vector<std::string> second = NamesGivenInOneRun(folder.path(), name);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  for (const std::vector<std::string>* names : {&first, &second}) {
    for (const std::string& given : *names) {
      // Same length, dots where they were, "0" to "6" everywhere else.
      ASSERT_EQ(given.size(), name.size()) << given;
      for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '.') {
          EXPECT_EQ(given[i], '.') << given;
        } else {
          EXPECT_TRUE(given[i] >= '0' && given[i] <= '6') << given;
        }
      }
    }
  }
}

}  // namespace
}  // namespace nulvane::testing

#endif  // _WIN32
