// End-to-end: the console front end's information commands and its usage errors.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/process.h"
#include "support/temp_folder.h"

namespace nulvane::testing {
namespace {

ProcessResult Cli(const std::vector<Text>& args) { return RunProgram(CliPath(), args); }

TEST(CliBasics, VersionAndHelp) {
  ProcessResult version = Cli({u"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "Nulvane 4.21\n");

  ProcessResult help = Cli({u"--help", u"-L", u"1"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("Usage:"), std::string::npos);
  EXPECT_NE(help.out.find("--passes N"), std::string::npos);
  EXPECT_TRUE(help.err.empty());

  ProcessResult german = Cli({u"-L", u"0", u"--help"});
  EXPECT_NE(german.out.find("Aufruf:"), std::string::npos);

  ProcessResult bare = Cli({});
  EXPECT_EQ(bare.exit_code, 0);
  EXPECT_NE(bare.out.find("--list"), std::string::npos) << "no arguments show the help";
}

TEST(CliBasics, LanguagesListsTheSixteenNamedSlots) {
  ProcessResult result = Cli({u"--languages", u"-L", u"1"});
  EXPECT_EQ(result.exit_code, 0);
  int lines = 0;
  for (char c : result.out) lines += c == '\n';
  EXPECT_EQ(lines, 16);
  EXPECT_NE(result.out.find("*  1  English English"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("   0  Deutsch German"), std::string::npos);
  EXPECT_NE(result.out.find("  15  Czech"), std::string::npos);
}

TEST(CliBasics, ExportTranslationWritesTheFileWhereAsked) {
  TempFolder folder;
  const Text path = folder / u"strings.txt";
  ProcessResult result = Cli({u"--export-translation", path});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find(platform::TextToUtf8(path)), std::string::npos);
  std::string bytes;
  ASSERT_TRUE(ReadTestFile(path, bytes));
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");

  ProcessResult failed = Cli({u"--export-translation", folder / u"no/such/folder.txt"});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_FALSE(failed.err.empty());
}

TEST(CliBasics, UsageErrorsExitWithTwoAndAHint) {
  for (const std::vector<Text>& args : {std::vector<Text>{u"--frobnicate"},
                                        {u"-p", u"36", u"x"},
                                        {u"-p", u"0", u"x"},
                                        {u"-d", u"abc", u"x"},
                                        {u"-p"},
                                        {u"--list", u"--fill", u"x"},
                                        {u"-q"}}) {
    ProcessResult result = Cli(args);
    EXPECT_EQ(result.exit_code, 2) << platform::TextToUtf8(args[0]);
    EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
}

}  // namespace
}  // namespace nulvane::testing
