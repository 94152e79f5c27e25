// One set of cases run against the fake file system the engine's tests use and against the
// system's own (natively for POSIX, under Wine for Win32): whatever the engine's tests assume of
// the fake must hold of the real thing. A case that fails for one of the two says which of them
// drifted.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_rules.h"
#include "support/fake_file_system.h"
#include "support/temp_folder.h"

namespace nulvane::platform {
namespace {

// A folder to work in, on one of the two file systems, with the few ways a test sets up and
// reads back entries from outside the interface (as another program would).
class World {
 public:
  virtual ~World() = default;
  virtual FileSystem& fs() = 0;
  virtual Text Root() const = 0;
  virtual void MakeFile(const Text& path, const std::string& content) = 0;
  virtual void MakeFolder(const Text& path) = 0;
  virtual std::optional<std::string> Read(const Text& path) const = 0;
  // Removes the entry and puts a new file with `content` under its name.
  virtual void ReplaceWithNewFile(const Text& path, const std::string& content) = 0;

  Text operator/(TextView name) const {
    Text path = Root();
    path += kPathSeparator;
    path += name;
    return path;
  }
};

class FakeWorld final : public World {
 public:
  FakeWorld() { fake_.AddFolder(Root()); }
  FileSystem& fs() override { return fake_; }
  Text Root() const override { return testing::FakePath(u"contract"); }
  void MakeFile(const Text& path, const std::string& content) override {
    fake_.AddFile(path, content);
  }
  void MakeFolder(const Text& path) override { fake_.AddFolder(path); }
  std::optional<std::string> Read(const Text& path) const override {
    const auto bytes = fake_.Content(path);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
  }
  void ReplaceWithNewFile(const Text& path, const std::string& content) override {
    fake_.ReplaceWithNewObject(path, EntryKind::kFile, content);
  }

 private:
  testing::FakeFileSystem fake_;
};

class SystemWorld final : public World {
 public:
  FileSystem& fs() override { return SystemFileSystem(); }
  Text Root() const override { return folder_.path(); }
  void MakeFile(const Text& path, const std::string& content) override {
    ASSERT_TRUE(testing::WriteTestFile(path, content));
  }
  void MakeFolder(const Text& path) override { ASSERT_TRUE(fs().CreateFolder(path).ok()); }
  std::optional<std::string> Read(const Text& path) const override {
    std::string bytes;
    if (!testing::ReadTestFile(path, bytes)) return std::nullopt;
    return bytes;
  }
  void ReplaceWithNewFile(const Text& path, const std::string& content) override {
    // Another object under the same name: made beside it, then moved over it, so that it
    // cannot be the old one even where the system hands the old number out again.
    fs().ForgetOpenFolders();
    const Text beside = path + u".new";
    ASSERT_TRUE(testing::WriteTestFile(beside, content));
    ASSERT_TRUE(fs().DeleteFile(path).ok());
    EntryIdentity ignored;
    ASSERT_TRUE(fs().RenameNoReplace(beside, path, ignored).ok());
    fs().ForgetOpenFolders();
  }

 private:
  testing::TempFolder folder_;
};

using WorldFactory = std::function<std::unique_ptr<World>()>;

class FileSystemContract : public ::testing::TestWithParam<WorldFactory> {
 protected:
  void SetUp() override { world_ = GetParam()(); }
  void TearDown() override { world_->fs().ForgetOpenFolders(); }

  FileSystem& fs() { return world_->fs(); }
  World& world() { return *world_; }

  EntryInfo Look(const Text& path) {
    EntryInfo info;
    EXPECT_TRUE(fs().Inspect(path, info).ok()) << TextToUtf8(path);
    return info;
  }
  // A reference that admits only what `path` is now.
  EntryRef Listed(const Text& path) {
    return EntryRef(path, ParentAnchorLength(path), Look(path).identity);
  }

  std::unique_ptr<World> world_;
};

TEST_P(FileSystemContract, AnEntryIsWhatItWasAndNothingThatTookItsName) {
  const Text file = world() / u"a.txt";
  world().MakeFile(file, "old");
  const EntryInfo first = Look(file);
  EXPECT_EQ(first.kind, EntryKind::kFile);
  EXPECT_EQ(first.size, 3u);
  ASSERT_TRUE(first.identity.known);
  EXPECT_TRUE(first.identity.Matches(Look(file).identity));

  const EntryRef listed = Listed(file);
  world().ReplaceWithNewFile(file, "new, unlisted");
  EXPECT_FALSE(Look(file).identity.Matches(first.identity));
  // Every step that changes an entry refuses the object put in the listed one's place.
  std::unique_ptr<OpenFile> opened;
  OpenedFileInfo opened_info;
  EXPECT_EQ(fs().OpenForOverwrite(listed, opened, opened_info).error, IoResult::kChangedEntry);
  EntryIdentity after;
  EXPECT_EQ(fs().RenameNoReplace(listed, world() / u"b.txt", after).error, IoResult::kChangedEntry);
  EXPECT_EQ(fs().DeleteFile(listed).error, IoResult::kChangedEntry);
  fs().ForgetOpenFolders();
  EXPECT_EQ(world().Read(file), "new, unlisted");
}

TEST_P(FileSystemContract, ARenameKeepsTheObjectAndNeverReplaces) {
  const Text from = world() / u"from";
  const Text taken = world() / u"taken";
  world().MakeFile(from, "moving");
  world().MakeFile(taken, "stays");
  const EntryRef listed = Listed(from);
  EntryIdentity after;
  const IoResult refused = fs().RenameNoReplace(listed, taken, after);
  EXPECT_TRUE(IsAlreadyExists(refused)) << refused.error;
  fs().ForgetOpenFolders();
  EXPECT_EQ(world().Read(from), "moving");
  EXPECT_EQ(world().Read(taken), "stays");

  const Text to = world() / u"to";
  ASSERT_TRUE(fs().RenameNoReplace(listed, to, after).ok());
  // `after` is what the entry is under its new name: the next step is checked against it.
  EXPECT_TRUE(after.Matches(Look(to).identity));
  EXPECT_TRUE(fs().DeleteFile(EntryRef(to, ParentAnchorLength(to), after)).ok());
  fs().ForgetOpenFolders();
  EXPECT_FALSE(world().Read(to));
  EXPECT_FALSE(world().Read(from));
}

TEST_P(FileSystemContract, AnOverwriteReplacesTheBytesInPlaceAndKeepsTheSize) {
  const Text file = world() / u"secret";
  world().MakeFile(file, "0123456789");
  std::unique_ptr<OpenFile> opened;
  OpenedFileInfo info;
  ASSERT_TRUE(fs().OpenForOverwrite(Listed(file), opened, info).ok());
  EXPECT_EQ(info.size, 10u);
  EXPECT_EQ(info.link_count, 1u);
  const std::string zeros(10, '\0');
  std::size_t written = 0;
  ASSERT_TRUE(opened->Write(zeros.data(), zeros.size(), written).ok());
  EXPECT_EQ(written, 10u);
  ASSERT_TRUE(opened->Flush().ok());
  std::uint64_t size = 0;
  ASSERT_TRUE(opened->CurrentSize(size).ok());
  EXPECT_EQ(size, 10u);
  ASSERT_TRUE(opened->Close().ok());
  fs().ForgetOpenFolders();
  EXPECT_EQ(world().Read(file), zeros);
}

TEST_P(FileSystemContract, ListingsRemovalsAndMissingEntriesAreReportedAlike) {
  const Text folder = world() / u"folder";
  world().MakeFolder(folder);
  world().MakeFile(folder + kPathSeparator + u"inner", "x");
  world().MakeFolder(folder + kPathSeparator + u"sub");

  std::vector<std::pair<Text, EntryKind>> seen;
  // "." and "..", where the system reports them, are for the caller to pass over.
  ASSERT_TRUE(fs().ListFolder(folder,
                              [&](TextView name, const EntryInfo& info) {
                                if (name != u"." && name != u"..")
                                  seen.emplace_back(Text(name), info.kind);
                              })
                  .ok());
  std::sort(seen.begin(), seen.end());
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_pair(Text(u"inner"), EntryKind::kFile));
  EXPECT_EQ(seen[1], std::make_pair(Text(u"sub"), EntryKind::kFolder));

  // A folder with contents stays; an empty one goes.
  EXPECT_FALSE(fs().RemoveFolder(Listed(folder)).ok());
  EXPECT_TRUE(fs().RemoveFolder(Listed(folder + kPathSeparator + u"sub")).ok());

  EntryInfo info;
  const IoResult missing = fs().Inspect(world() / u"never-made", info);
  EXPECT_TRUE(!missing ? IsNotFound(missing) : info.kind == EntryKind::kMissing);
  const IoResult gone_folder = fs().Inspect(world() / u"never-made/inner", info);
  EXPECT_TRUE(!gone_folder ? IsNotFound(gone_folder) : info.kind == EntryKind::kMissing);
  EXPECT_TRUE(IsNotFound(fs().DeleteFile(world() / u"never-made")));
}

INSTANTIATE_TEST_SUITE_P(
    FakeAndSystem, FileSystemContract,
    ::testing::Values(WorldFactory([] { return std::unique_ptr<World>(new FakeWorld()); }),
                      WorldFactory([] { return std::unique_ptr<World>(new SystemWorld()); })),
    [](const ::testing::TestParamInfo<WorldFactory>& param) {
      return param.index == 0 ? std::string("Fake") : std::string("System");
    });

}  // namespace
}  // namespace nulvane::platform
