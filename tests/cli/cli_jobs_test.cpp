// End-to-end: the console front end destroys, lists and fills on real temporary trees.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/text.h"
#include "support/process.h"
#include "support/temp_folder.h"

namespace nulvane::testing {
namespace {

namespace fs = std::filesystem;

ProcessResult Cli(const std::vector<Text>& args) { return RunProgram(CliPath(), args); }

// Every entry below `root` with its content (files) or "<dir>", to prove nothing changed.
std::map<std::string, std::string> Snapshot(const Text& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(root))) {
    std::string content = "<dir>";
    if (entry.is_regular_file()) ReadTestFile(entry.path().u16string(), content);
    const auto stamp = fs::last_write_time(entry.path()).time_since_epoch().count();
    entries[entry.path().generic_string()] = content + "@" + std::to_string(stamp);
  }
  return entries;
}

void MakeTree(const TempFolder& folder) {
  fs::create_directories(fs::path(folder / u"victim") / "sub");
  WriteTestFile(folder / u"victim" + u"/a.txt", std::string(5000, 'A'));
  WriteTestFile(folder / u"victim" + u"/sub/b.txt", "secret");
  WriteTestFile(folder / u"victim" + u"/sub/empty", "");
  WriteTestFile(folder / u"keep.txt", "keep me");
}

TEST(CliJobs, VerifyReadsTheTreeBackAndDestroysItWhenAllIsZero) {
  TempFolder folder;
  MakeTree(folder);
  ProcessResult result = Cli({u"-d", u"0", u"--verify", u"-L", u"1", folder / u"victim"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_FALSE(PathExists(folder / u"victim"));
  EXPECT_TRUE(PathExists(folder / u"keep.txt"));
  EXPECT_NE(Cli({u"--help", u"-L", u"1"}).out.find("--verify"), std::string::npos);
}

TEST(CliJobs, DestroysATreeAndLeavesTheFileBesideIt) {
  TempFolder folder;
  MakeTree(folder);
  ProcessResult result = Cli({u"-d", u"0", u"-p", u"2", u"-L", u"1", folder / u"victim"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_FALSE(PathExists(folder / u"victim"));
  std::string kept;
  ASSERT_TRUE(ReadTestFile(folder / u"keep.txt", kept));
  EXPECT_EQ(kept, "keep me");
  EXPECT_EQ(
      std::distance(fs::directory_iterator(fs::path(folder.path())), fs::directory_iterator()), 1)
      << "no renamed leftovers beside the tree";
  // Oldest line first; the final summary ends the output.
  EXPECT_NE(result.out.find("Info: Start ..."), std::string::npos) << result.out;
  EXPECT_LT(result.out.find("Start ..."), result.out.find("Total"));
  // The window's outcome line, before the status line.
  const std::size_t outcome = result.out.find("Info: Destroyed: 5, failed: 0, left untouched: 0");
  EXPECT_NE(outcome, std::string::npos) << result.out;
  EXPECT_LT(outcome, result.out.rfind("100.0 % // Error: 0"));
  EXPECT_NE(result.out.rfind("100.0 % // Error: 0"), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << "no control characters into a pipe";
  EXPECT_EQ(result.out.find('\r'), std::string::npos);
}

TEST(CliJobs, ListShowsTheOrderAndTouchesNothing) {
  TempFolder folder;
  MakeTree(folder);
  const auto before = Snapshot(folder.path());
  ProcessResult result = Cli({u"--list", u"-L", u"1", folder / u"victim"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(Snapshot(folder.path()), before);
  const std::string out = result.out;
  const auto at = [&](const char* name) { return out.find(name); };
  ASSERT_NE(at("victim\n"), std::string::npos) << out;
  EXPECT_LT(at("victim\n"), at("a.txt"));
  EXPECT_LT(at("a.txt"), at("sub\n"));
  EXPECT_LT(at("sub\n"), at("b.txt"));
  EXPECT_NE(out.find("<DIR>"), std::string::npos);
  EXPECT_NE(out.find("4.9 KB"), std::string::npos) << out;
  EXPECT_NE(out.find("Items:5"), std::string::npos) << out;
}

TEST(CliJobs, AMissingPathIsNamedAndCountsAsAFailure) {
  TempFolder folder;
  WriteTestFile(folder / u"real.txt", "x");
  ProcessResult result =
      Cli({u"-d", u"0", u"-L", u"1", folder / u"real.txt", folder / u"typo.txt"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("Warning: "), std::string::npos);
  EXPECT_NE(result.err.find("typo.txt: not found"), std::string::npos) << result.err;
  EXPECT_FALSE(PathExists(folder / u"real.txt"));
}

TEST(CliJobs, QuietPrintsOnlyErrorsAndWarnings) {
  TempFolder folder;
  WriteTestFile(folder / u"a.txt", "x");
  ProcessResult result = Cli({u"-q", u"-d", u"0", folder / u"a.txt"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_TRUE(result.out.empty()) << result.out;
  EXPECT_TRUE(result.err.empty()) << result.err;
  EXPECT_FALSE(PathExists(folder / u"a.txt"));
}

TEST(CliJobs, FillNeedsExactlyOneExistingFolder) {
  TempFolder folder;
  EXPECT_EQ(Cli({u"--fill"}).exit_code, 2);
  EXPECT_EQ(Cli({u"--fill", folder.path(), folder.path()}).exit_code, 2);
  ProcessResult missing = Cli({u"--fill", folder / u"nowhere"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("not found"), std::string::npos) << missing.err;
  // Regression: a file was "not found"; it is named for what it is, and nothing is made.
  const Text file = folder / u"file.txt";
  ASSERT_TRUE(WriteTestFile(file, "x"));
  ProcessResult on_file = Cli({u"-L", u"1", u"--fill", file});
  EXPECT_EQ(on_file.exit_code, 1);
  EXPECT_NE(on_file.err.find(": is a file; the fill needs a folder"), std::string::npos)
      << on_file.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(folder.path())), {}), 1)
      << "the fill made nothing";
}

// Regression: "." failed at its turn with a text about characters no name can hold.
TEST(CliJobs, DotAndDotDotAreRefusedWithALineThatSaysWhatTheyName) {
  const ProcessResult result = Cli({u"-d", u"0", u"-L", u"1", u".", u".."});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("Warning: .: names the current folder itself; refused\n"),
            std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("Warning: ..: names the folder above the current one; refused\n"),
            std::string::npos);
  EXPECT_EQ(result.err.find("no file name can hold"), std::string::npos);
}

}  // namespace
}  // namespace nulvane::testing
