// The system's file system with hooks: lets a test look at the disk, or change it, at fixed
// points of a run (before an entry is looked at, before a file is opened for overwrite, after it
// was closed, before a rename, once the fill folder is made).
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "support/forwarding_file_system.h"

namespace nulvane::testing {

using platform::IoResult;
using platform::OpenFile;

class ObservingFileSystem final : public ForwardingFileSystem {
 public:
  std::function<void(const Text& path)> after_overwrite_closed;
  std::function<void(const Text& from)> before_rename;
  std::function<void(const Text& path)> before_open;
  // Called before the run looks at an entry (Inspect), with its path.
  std::function<void(const Text& path)> before_inspect;
  // Called once the fill folder has been made and is held (a test may move it now).
  std::function<void(const Text& folder)> after_fill_folder_made;

  IoResult Inspect(const platform::EntryRef& entry, platform::EntryInfo& info) override {
    Call(before_inspect, Text(entry.path));
    return inner().Inspect(entry, info);
  }
  IoResult OpenForOverwrite(const platform::EntryRef& entry, std::unique_ptr<OpenFile>& file,
                            platform::OpenedFileInfo& info) override {
    Call(before_open, Text(entry.path));
    const IoResult result = inner().OpenForOverwrite(entry, file, info);
    if (result) file = std::make_unique<Watched>(std::move(file), Text(entry.path), *this);
    return result;
  }
  using ForwardingFileSystem::RenameNoReplace;
  IoResult RenameNoReplace(const platform::EntryRef& from, TextView to,
                           platform::EntryIdentity& after) override {
    Call(before_rename, Text(from.path));
    return inner().RenameNoReplace(from, to, after);
  }
  IoResult MakeFillFolder(TextView chosen, TextView name,
                          std::unique_ptr<platform::FillFolder>& folder) override {
    const IoResult result = inner().MakeFillFolder(chosen, name, folder);
    if (result) Call(after_fill_folder_made, folder->Path());
    return result;
  }

 private:
  // The hooks run one at a time: a run's workers reach the file system at once, and a hook
  // writes what it saw into the test's own variables. A hook may call the file system again.
  void Call(const std::function<void(const Text&)>& hook, const Text& path) {
    if (!hook) return;
    const std::lock_guard lock(hooks_mutex_);
    hook(path);
  }
  std::recursive_mutex hooks_mutex_;

  class Watched final : public ForwardingOpenFile {
   public:
    Watched(std::unique_ptr<OpenFile> file, Text path, ObservingFileSystem& owner)
        : ForwardingOpenFile(std::move(file)), path_(std::move(path)), owner_(owner) {}
    IoResult Close() override {
      const IoResult result = inner().Close();
      owner_.Call(owner_.after_overwrite_closed, path_);
      return result;
    }

   private:
    Text path_;
    ObservingFileSystem& owner_;
  };
};

}  // namespace nulvane::testing
