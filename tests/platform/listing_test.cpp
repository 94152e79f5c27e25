// FileSystem::FindEntry, ListFolder and FoldPathKey on real folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "platform/file_system.h"
#include "support/temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#endif

namespace nulvane::platform {
namespace {

namespace fs = std::filesystem;

Text Join(TextView folder, TextView name) { return Text(folder) + kPathSeparator + Text(name); }

void WriteBytes(const Text& path, std::size_t count) {
  std::ofstream out(fs::path(path), std::ios::binary);
  out << std::string(count, 'z');
}

std::map<Text, EntryInfo> List(const Text& folder, IoResult* result = nullptr) {
  std::map<Text, EntryInfo> entries;
  const IoResult listed = SystemFileSystem().ListFolder(
      folder, [&](TextView name, const EntryInfo& info) { entries[Text(name)] = info; });
  if (result) *result = listed;
  return entries;
}

class Listing : public ::testing::Test {
 protected:
  nulvane::testing::TempFolder temp_;
};

TEST_F(Listing, ClassifiesFilesAndFoldersWithTheirSizes) {
  WriteBytes(Join(temp_.path(), u"file.bin"), 3000);
  fs::create_directory(fs::path(Join(temp_.path(), u"sub")));

  IoResult result;
  const auto entries = List(temp_.path(), &result);
  ASSERT_TRUE(result.ok()) << result.error;
  ASSERT_TRUE(entries.count(u"file.bin"));
  EXPECT_EQ(entries.at(u"file.bin").kind, EntryKind::kFile);
  // A listing may leave a file's size for a later look (POSIX does); when it gives one, it is
  // the file's size.
  const EntryInfo& file = entries.at(u"file.bin");
  EXPECT_EQ(file.size, file.size_known ? 3000u : 0u);
#ifdef _WIN32
  EXPECT_TRUE(file.size_known) << "a Windows listing carries every size";
#endif
  ASSERT_TRUE(entries.count(u"sub"));
  EXPECT_EQ(entries.at(u"sub").kind, EntryKind::kFolder);
  EXPECT_EQ(entries.at(u"sub").size, 0u);
  for (const auto& [name, info] : entries) {
    EXPECT_TRUE(name == u"." || name == u".." || name == u"file.bin" || name == u"sub")
        << TextToUtf8(name);
  }

  EntryInfo info;
  ASSERT_TRUE(SystemFileSystem().FindEntry(Join(temp_.path(), u"file.bin"), info).ok());
  EXPECT_EQ(info.kind, EntryKind::kFile);
  EXPECT_EQ(info.size, 3000u);
  ASSERT_TRUE(SystemFileSystem().FindEntry(Join(temp_.path(), u"sub"), info).ok());
  EXPECT_EQ(info.kind, EntryKind::kFolder);
}

TEST_F(Listing, MissingPathsTrailingSeparatorsAndRootsFindNoEntry) {
  fs::create_directory(fs::path(Join(temp_.path(), u"sub")));
  EntryInfo info;
  for (const Text& path :
       {Join(temp_.path(), u"missing"), Join(temp_.path(), u"sub") + kPathSeparator, Text()}) {
    EXPECT_FALSE(SystemFileSystem().FindEntry(path, info).ok()) << TextToUtf8(path);
    EXPECT_EQ(info.kind, EntryKind::kMissing);
  }
#ifdef _WIN32
  EXPECT_FALSE(SystemFileSystem().FindEntry(temp_.path().substr(0, 3), info).ok());
#else
  EXPECT_FALSE(SystemFileSystem().FindEntry(u"/", info).ok());
#endif

  IoResult result;
  const auto entries = List(Join(temp_.path(), u"missing"), &result);
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(entries.empty());
}

TEST_F(Listing, LinksAreReportedAsLinksAndNeverListedThrough) {
  const Text target = Join(temp_.path(), u"target");
  fs::create_directory(fs::path(target));
  WriteBytes(Join(target, u"behind.txt"), 10);
  const Text link = Join(temp_.path(), u"link");
#ifdef _WIN32
  // Wine reports success and creates nothing: the link is looked for afterwards.
  if (!CreateSymbolicLinkW(Wide(link), Wide(target), SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2) ||
      !(GetFileAttributesW(Wide(link)) & FILE_ATTRIBUTE_REPARSE_POINT) ||
      GetFileAttributesW(Wide(link)) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no folder links can be made here";
  }
#else
  std::error_code error;
  fs::create_directory_symlink(fs::path(target), fs::path(link), error);
  if (error) GTEST_SKIP() << "no folder links here: " << error.message();
#endif

  const auto entries = List(temp_.path());
  ASSERT_TRUE(entries.count(u"link"));
  EXPECT_EQ(entries.at(u"link").kind, EntryKind::kLink);

  EntryInfo info;
  ASSERT_TRUE(SystemFileSystem().FindEntry(link, info).ok());
  EXPECT_EQ(info.kind, EntryKind::kLink);
#ifdef _WIN32
  EXPECT_TRUE(info.link_to_folder);
  EXPECT_TRUE(entries.at(u"link").link_to_folder);
#endif

  // Listing the link itself, with or without a trailing separator, is refused.
  for (const Text& folder : {link, link + kPathSeparator}) {
    IoResult result;
    const auto through = List(folder, &result);
    EXPECT_FALSE(result.ok()) << TextToUtf8(folder);
    EXPECT_FALSE(through.count(u"behind.txt")) << TextToUtf8(folder);
  }
#ifdef _WIN32
  // The link goes before the folder is cleared away: the clean-up must not walk through it.
  EXPECT_TRUE(RemoveDirectoryW(Wide(link)));
  EXPECT_TRUE(fs::exists(fs::path(Join(target, u"behind.txt"))));
#endif
}

TEST_F(Listing, FoldersBeyondTheClassicPathLimitAreListed) {
  Text folder = temp_.path();
  std::vector<Text> created;
  while (folder.size() < 400) {
    folder = Join(folder, Text(60, u'q'));
#ifdef _WIN32
    ASSERT_TRUE(CreateDirectoryW(Wide(u"\\\\?\\" + folder), nullptr));
#else
    ASSERT_TRUE(fs::create_directory(fs::path(folder)));
#endif
    created.push_back(folder);
  }
  const Text inner = Join(folder, u"inner");
#ifdef _WIN32
  ASSERT_TRUE(CreateDirectoryW(Wide(u"\\\\?\\" + inner), nullptr));
#else
  ASSERT_TRUE(fs::create_directory(fs::path(inner)));
#endif

  IoResult result;
  const auto entries = List(folder, &result);
  ASSERT_TRUE(result.ok()) << result.error;
  ASSERT_TRUE(entries.count(u"inner"));
  EXPECT_EQ(entries.at(u"inner").kind, EntryKind::kFolder);
  EntryInfo info;
  ASSERT_TRUE(SystemFileSystem().FindEntry(inner, info).ok());
  EXPECT_EQ(info.kind, EntryKind::kFolder);

  created.push_back(inner);
  // The folders the listing kept open would stay behind, pending deletion, until closed.
  SystemFileSystem().ForgetOpenFolders();
  for (auto it = created.rbegin(); it != created.rend(); ++it) {
#ifdef _WIN32
    EXPECT_TRUE(RemoveDirectoryW(Wide(u"\\\\?\\" + *it)));
#else
    EXPECT_TRUE(fs::remove(fs::path(*it)));
#endif
  }
}

TEST(FoldPathKey, FoldsCaseOnlyWhereTheFileSystemIgnoresIt) {
  const Text path = u"C:\\Data\\\x00C4rger\\File.TXT";
#ifdef _WIN32
  EXPECT_EQ(FoldPathKey(path), u"c:\\data\\\x00E4rger\\file.txt");
  // The whole length is folded, past an embedded null too.
  EXPECT_EQ(FoldPathKey(Text(u"A\0B", 3)), Text(u"a\0b", 3));
#else
  EXPECT_EQ(FoldPathKey(path), path);
#endif
  EXPECT_EQ(FoldPathKey(u""), u"");
}

}  // namespace
}  // namespace nulvane::platform
