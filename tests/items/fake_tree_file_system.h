// An in-memory tree for the item list's tests: files, folders and links at exact paths, with
// listings that can be made to fail, also part-way. Only the calls the item list makes are
// served. Tests give it lower-case paths without a drive, so that the keys the Windows build
// folds to lower case still name its entries.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <vector>

#include "platform/file_system.h"

namespace nulvane::items::testing {

class FakeTreeFileSystem final : public platform::FileSystem {
 public:
  using EntryInfo = platform::EntryInfo;
  using EntryKind = platform::EntryKind;
  using IoResult = platform::IoResult;

  static constexpr std::uint32_t kNotFound = 2;

  void AddFolder(const Text& path) { Add(path, {EntryKind::kFolder, 0, false}); }
  void AddFile(const Text& path, std::uint64_t size) { Add(path, {EntryKind::kFile, size, false}); }
  void AddLink(const Text& path, bool to_folder) { Add(path, {EntryKind::kLink, 0, to_folder}); }
  void Remove(const Text& path) {
    entries_.erase(path);
    const std::size_t cut = path.rfind(platform::kPathSeparator);
    if (cut != Text::npos) children_[path.substr(0, cut)].erase(path.substr(cut + 1));
  }
  // ListFolder of `path` fails at once, or after `after` entries have been visited.
  void FailListing(const Text& path, int after = 0) { failing_[path] = after; }

  // Every folder ListFolder was asked for, in order, and how many entries Inspect looked at.
  std::vector<Text> listed;
  int inspected = 0;
  // False: listings tell no identities, as a POSIX listing.
  bool listings_tell_identities = true;
  bool ListingsTellIdentities() const override { return listings_tell_identities; }

  IoResult Inspect(const platform::EntryRef& entry, EntryInfo& info) override {
    ++inspected;
    return Lookup(entry.path, info);
  }
  IoResult FindEntry(TextView path, EntryInfo& info) override { return Lookup(path, info); }
  // Every anchor is a folder of its own, told apart by its text.
  IoResult IdentifyAnchor(TextView anchor, platform::EntryIdentity& identity) override {
    identity = {1, std::hash<TextView>()(anchor), 1, 0, platform::IdentityStamp::kNone, true};
    return IoResult::Ok();
  }

  IoResult ListFolder(const platform::EntryRef& folder_entry,
                      const std::function<void(TextView, const EntryInfo&)>& visit) override {
    const TextView folder = folder_entry.path;
    listed.emplace_back(folder);
    Text key(folder);
    if (key.size() > 1 && key.back() == platform::kPathSeparator) key.pop_back();
    const auto failing = failing_.find(key);
    if (failing != failing_.end() && failing->second == 0) return IoResult::Fail(5);
    const auto it = entries_.find(key);
    if (it == entries_.end() || it->second.kind != EntryKind::kFolder) {
      return IoResult::Fail(kNotFound);
    }
    int visited = 0;
    auto step = [&](TextView name, EntryInfo info) {
      if (failing != failing_.end() && visited == failing->second) return false;
      if (!listings_tell_identities) info.identity = {};
      visit(name, info);
      ++visited;
      return true;
    };
    if (!step(u".", {EntryKind::kFolder, 0, false})) return IoResult::Fail(5);
    if (!step(u"..", {EntryKind::kFolder, 0, false})) return IoResult::Fail(5);
    for (const Text& name : children_[key]) {
      if (!step(name, entries_.at(key + platform::kPathSeparator + name))) {
        return IoResult::Fail(5);
      }
    }
    return IoResult::Ok();
  }

  IoResult OpenForOverwrite(const platform::EntryRef&, std::unique_ptr<platform::OpenFile>&,
                            platform::OpenedFileInfo&) override {
    return Unsupported();
  }
  IoResult OpenFolderForStamp(const platform::EntryRef&,
                              std::unique_ptr<platform::OpenFile>&) override {
    return Unsupported();
  }
  IoResult CreateNewFile(TextView, std::unique_ptr<platform::OpenFile>&,
                         platform::Caching) override {
    return Unsupported();
  }
  IoResult RenameNoReplace(const platform::EntryRef&, TextView, platform::EntryIdentity&) override {
    return Unsupported();
  }
  IoResult DeleteFile(const platform::EntryRef&) override { return Unsupported(); }
  IoResult RemoveFolder(const platform::EntryRef&) override { return Unsupported(); }
  IoResult CreateFolder(TextView) override { return Unsupported(); }
  IoResult GetVolumeSpace(TextView, platform::VolumeSpace&) override { return Unsupported(); }
  IoResult MakeFillFolder(TextView, TextView, std::unique_ptr<platform::FillFolder>&) override {
    return Unsupported();
  }
  Text FullPath(TextView path) override { return Text(path); }

 private:
  IoResult Lookup(TextView path, EntryInfo& info) {
    info = EntryInfo{};
    const auto it = entries_.find(Text(path));
    if (it == entries_.end()) return IoResult::Fail(kNotFound);
    info = it->second;
    return IoResult::Ok();
  }
  void Add(const Text& path, EntryInfo info) {
    info.identity = {1, ++next_object_, 0, 0, platform::IdentityStamp::kNone, true};
    entries_[path] = info;
    const std::size_t cut = path.rfind(platform::kPathSeparator);
    if (cut != Text::npos) children_[path.substr(0, cut)].insert(path.substr(cut + 1));
  }
  static IoResult Unsupported() { return IoResult::Fail(IoResult::kGenericFailure); }

  std::map<Text, EntryInfo> entries_;
  std::map<Text, std::set<Text>> children_;  // names below each folder, in sorted order
  std::map<Text, int> failing_;
  std::uint64_t next_object_ = 0;
};

}  // namespace nulvane::items::testing
