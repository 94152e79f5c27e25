#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/ini.h"
#include "platform/system.h"
#include "support/temp_folder.h"

namespace nulvane::settings {
namespace {

using testing::ReadTestFile;
using testing::TempFolder;
using testing::WriteTestFile;

TEST(SettingsPath, ReplacesOnlyTheExtensionOfTheFileName) {
  EXPECT_EQ(SettingsPathFor(u"C:\\Tools\\wipe.exe"), u"C:\\Tools\\wipe.ini");
  EXPECT_EQ(SettingsPathFor(u"C:\\Tools\\wipe.old.exe"), u"C:\\Tools\\wipe.old.ini");
  // Regression: a "." in a folder name must not move the file out of the program's folder.
  EXPECT_EQ(SettingsPathFor(u"C:\\a.b\\prog"), u"C:\\a.b\\prog.ini");
  EXPECT_EQ(SettingsPathFor(u"/opt/tools.d/nulvane-cli"), u"/opt/tools.d/nulvane-cli.ini");
  EXPECT_EQ(SettingsPathFor(u"prog"), u"prog.ini");
}

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = folder_ / u"nulvane.ini";
    UseSettingsFile(path_);
  }
  void TearDown() override { UseSettingsFile(u""); }

  TempFolder folder_;
  Text path_;
};

TEST_F(SettingsFileTest, MissingFileAndKeysGiveDefaults) {
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, 0, 10), 5);
  int delay = 5;
  GetOptionInt(kDelayKey, delay);
  EXPECT_EQ(delay, 5);
  int passes = 0;
  GetOptionInt(kPassesKey, passes);
  EXPECT_EQ(passes, 0);
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 1);
  EXPECT_FALSE(testing::PathExists(path_)) << "reading must not create the file";
}

TEST_F(SettingsFileTest, ValuesAreClampedOnlyWhenAskedAndEmptyCountsAsMissing) {
  ASSERT_TRUE(WriteTestFile(path_,
                            "[NewFileTime]\nre_write=20\ndel_delay=-3\n[Program]\nlng=\n"
                            "[Other]\nx=abc\ny= 12abc\n"));
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, 0, 10), 0);
  EXPECT_EQ(GetIniInt(kOptionSection, kPassesKey, 0, 1, 10), 10);
  EXPECT_EQ(GetIniInt(kOptionSection, kPassesKey, 1, 1, 35), 20);
  int delay = 5;
  GetOptionInt(kDelayKey, delay);
  EXPECT_EQ(delay, -3) << "GetOptionInt does not clamp";
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 1) << "an empty value is the default";
  EXPECT_EQ(GetIniInt(u"Other", u"x", 9, -1, -1), 0) << "not a number reads as 0";
  EXPECT_EQ(GetIniInt(u"Other", u"y", 9, -1, -1), 12);
  ASSERT_TRUE(WriteTestFile(path_, "[NewFileTime]\ndel_delay=99\n"));
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, 0, 10), 10);
}

TEST_F(SettingsFileTest, LookupsIgnoreCase) {
  ASSERT_TRUE(WriteTestFile(path_, "[newfiletime]\r\nRE_WRITE=3\r\n"));
  EXPECT_EQ(GetIniInt(kOptionSection, kPassesKey, 0, -1, -1), 3);
}

TEST_F(SettingsFileTest, WritesAreReadBackAndKeepEveryOtherLine) {
  ASSERT_TRUE(
      WriteTestFile(path_, "; kept comment\n[Program]\nlng=4\nother=keep me\n\n[Foreign]\nk=v\n"));
  ASSERT_TRUE(PutProgramInt(kLanguageKey, 7));
  ASSERT_TRUE(PutOptionInt(kPassesKey, 3));
  ASSERT_TRUE(PutOptionInt(kDelayKey, -2));
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 7);
  int passes = 0;
  GetOptionInt(kPassesKey, passes);
  EXPECT_EQ(passes, 3);
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, -1, -1), -2);
  Text value;
  EXPECT_EQ(GetIniString(u"Foreign", u"k", value), 1);
  EXPECT_EQ(value, u"v");
  EXPECT_EQ(GetIniString(u"Program", u"other", value), 7);
#ifndef _WIN32
  std::string content;
  ASSERT_TRUE(ReadTestFile(path_, content));
  EXPECT_EQ(content,
            "; kept comment\n[Program]\nlng=7\nother=keep me\n\n[Foreign]\nk=v\n"
            "[NewFileTime]\nre_write=3\ndel_delay=-2\n");
#endif
}

TEST_F(SettingsFileTest, NoCacheAValueWrittenByAnotherProgramIsSeenAtOnce) {
  ASSERT_TRUE(WriteTestFile(path_, "[NewFileTime]\ndel_delay=2\n"));
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, 0, 10), 2);
  ASSERT_TRUE(WriteTestFile(path_, "[NewFileTime]\ndel_delay=8\n"));
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, 0, 10), 8);
}

TEST_F(SettingsFileTest, AnUnwritableFolderFailsQuietly) {
  const Text inside_missing = folder_ / u"no-such-folder" + u"/x.ini";
  UseSettingsFile(inside_missing);
  EXPECT_FALSE(PutProgramInt(kLanguageKey, 3));
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 1);
}

void RemoveSettingsFile(const Text& path) {
#ifdef _WIN32
  SetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(reinterpret_cast<const wchar_t*>(path.c_str()));
#else
  std::remove(platform::TextToUtf8(path).c_str());
#endif
}

TEST(SettingsStartUp, FirstStartCreatesAnEmptyFileAndReadsTheLanguage) {
  const Text path = SettingsPathFor(platform::ExecutablePath());
  RemoveSettingsFile(path);
  EXPECT_EQ(InitSettingsFile(), DefaultLanguageIndex());
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
#endif
  EXPECT_EQ(SettingsFile(), path);
  std::string content;
  ASSERT_TRUE(ReadTestFile(path, content));
  EXPECT_TRUE(content.empty());
  ASSERT_TRUE(PutProgramInt(kLanguageKey, 40));
  EXPECT_EQ(InitSettingsFile(), 40) << "lng is not clamped; lookups guard it";
  RemoveSettingsFile(path);
  UseSettingsFile(u"");
}

// A settings file is read only when it is a regular file of at most 1 MiB: a huge file (or a
// device that never ends) must not be read into memory, a folder is nothing to read.
TEST_F(SettingsFileTest, AFileOverOneMiBOrAFolderIsIgnoredAndNeverWritten) {
  const std::string start = "[NewFileTime]\ndel_delay=2\n;";
  std::string exact = start + std::string(platform::kMaxIniFileSize - start.size() - 1, 'x');
  exact += '\n';
  ASSERT_TRUE(WriteTestFile(path_, exact));
  EXPECT_FALSE(SettingsFileIgnored());
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, 0, 10), 2) << "1 MiB exactly is read";

  const std::string over = exact + "x";
  ASSERT_TRUE(WriteTestFile(path_, over));
  EXPECT_TRUE(SettingsFileIgnored());
  EXPECT_EQ(GetIniInt(kOptionSection, kDelayKey, 5, 0, 10), 5);
  EXPECT_FALSE(PutOptionInt(kDelayKey, 3));
  std::string content;
  ASSERT_TRUE(ReadTestFile(path_, content));
  EXPECT_EQ(content, over) << "an ignored file is left as it is";

  RemoveSettingsFile(path_);
  EXPECT_FALSE(SettingsFileIgnored()) << "a missing file is no reason for a warning";
  std::filesystem::create_directory(std::filesystem::path(path_));
  EXPECT_TRUE(SettingsFileIgnored());
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 1);
  EXPECT_FALSE(PutProgramInt(kLanguageKey, 3));
}

#ifndef _WIN32
// Regression: the settings file as a link to /dev/zero was read until memory ran out, as a
// FIFO the program waited forever; a link must never be written through.
TEST_F(SettingsFileTest, ADeviceAFifoOrALinkUnderTheNameIsNeitherReadNorWritten) {
  ASSERT_EQ(symlink("/dev/zero", platform::TextToUtf8(path_).c_str()), 0);
  EXPECT_TRUE(SettingsFileIgnored());
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 1);
  RemoveSettingsFile(path_);

  ASSERT_EQ(mkfifo(platform::TextToUtf8(path_).c_str(), 0600), 0);
  EXPECT_TRUE(SettingsFileIgnored());
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 1);
  EXPECT_FALSE(PutProgramInt(kLanguageKey, 3));
  RemoveSettingsFile(path_);

  // A link to a real settings file is read through, but a write neither changes the file it
  // names nor replaces the link.
  const Text target = folder_ / u"elsewhere.ini";
  ASSERT_TRUE(WriteTestFile(target, "[Program]\nlng=4\n"));
  ASSERT_EQ(symlink(platform::TextToUtf8(target).c_str(), platform::TextToUtf8(path_).c_str()), 0);
  EXPECT_FALSE(SettingsFileIgnored());
  EXPECT_EQ(GetProgramInt(kLanguageKey, 1), 4);
  EXPECT_FALSE(PutProgramInt(kLanguageKey, 7));
  std::string content;
  ASSERT_TRUE(ReadTestFile(target, content));
  EXPECT_EQ(content, "[Program]\nlng=4\n");
  EXPECT_TRUE(std::filesystem::is_symlink(std::filesystem::path(path_)));
}
#endif

}  // namespace
}  // namespace nulvane::settings
