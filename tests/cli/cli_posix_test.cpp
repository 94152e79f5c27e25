// End-to-end on POSIX only: Ctrl+C (SIGINT) during the countdown and after it, and the fill
// on a small dedicated volume.
#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/text.h"
#include "support/process.h"
#include "support/temp_folder.h"

extern char** environ;

namespace nulvane::testing {
namespace {

namespace fs = std::filesystem;

// A running nulvane-cli whose standard output is read line by line.
class RunningCli {
 public:
  explicit RunningCli(std::vector<std::string> args) {
    args.insert(args.begin(), platform::TextToUtf8(CliPath()));
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

}  // namespace
}  // namespace nulvane::testing

#endif  // _WIN32
