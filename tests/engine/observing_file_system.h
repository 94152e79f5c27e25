// The system's file system with hooks: lets a test look at the disk, or change it, at fixed
// points of a run (before a file is opened for overwrite, after it was closed, before a rename).
#pragma once

#include <functional>
#include <memory>

#include "platform/file_system.h"

namespace nulvane::testing {

using platform::IoResult;
using platform::OpenFile;

// Forwards every call to the system's file system and lets the test look at the disk after a
// file opened for overwrite was closed, and before an entry is renamed.
class ObservingFileSystem final : public platform::FileSystem {
 public:
  std::function<void(const Text& path)> after_overwrite_closed;
  std::function<void(const Text& from)> before_rename;

  std::function<void(const Text& path)> before_open;

  IoResult Inspect(const platform::EntryRef& entry, platform::EntryInfo& info) override {
    return inner_.Inspect(entry, info);
  }
  IoResult FindEntry(TextView path, platform::EntryInfo& info) override {
    return inner_.FindEntry(path, info);
  }
  IoResult ListFolder(
      const platform::EntryRef& folder,
      const std::function<void(TextView, const platform::EntryInfo&)>& visit) override {
    return inner_.ListFolder(folder, visit);
  }
  IoResult OpenForOverwrite(const platform::EntryRef& entry, std::unique_ptr<OpenFile>& file,
                            platform::OpenedFileInfo& info) override {
    if (before_open) before_open(Text(entry.path));
    const IoResult result = inner_.OpenForOverwrite(entry, file, info);
    if (result) file = std::make_unique<Watched>(std::move(file), Text(entry.path), *this);
    return result;
  }
  IoResult OpenFolderForStamp(const platform::EntryRef& entry,
                              std::unique_ptr<OpenFile>& folder) override {
    return inner_.OpenFolderForStamp(entry, folder);
  }
  IoResult CreateNewFile(TextView path, std::unique_ptr<OpenFile>& file,
                         platform::Caching caching) override {
    return inner_.CreateNewFile(path, file, caching);
  }
  IoResult RenameNoReplace(const platform::EntryRef& from, TextView to) override {
    if (before_rename) before_rename(Text(from.path));
    return inner_.RenameNoReplace(from, to);
  }
  IoResult DeleteFile(const platform::EntryRef& entry) override { return inner_.DeleteFile(entry); }
  IoResult RemoveFolder(const platform::EntryRef& entry) override {
    return inner_.RemoveFolder(entry);
  }
  void ForgetOpenFolders() override { inner_.ForgetOpenFolders(); }
  IoResult CreateFolder(TextView path) override { return inner_.CreateFolder(path); }
  IoResult GetVolumeSpace(TextView path, platform::VolumeSpace& space) override {
    return inner_.GetVolumeSpace(path, space);
  }
  IoResult PrepareFillFolder(TextView folder) override { return inner_.PrepareFillFolder(folder); }
  Text FullPath(TextView path) override { return inner_.FullPath(path); }
  IoResult ResolveFolder(TextView path, Text& resolved) override {
    return inner_.ResolveFolder(path, resolved);
  }
  IoResult ReleaseFillFolder(TextView folder) override { return inner_.ReleaseFillFolder(folder); }

 private:
  class Watched final : public OpenFile {
   public:
    Watched(std::unique_ptr<OpenFile> inner, Text path, ObservingFileSystem& owner)
        : inner_(std::move(inner)), path_(std::move(path)), owner_(owner) {}
    IoResult Write(const void* data, std::size_t size, std::size_t& written) override {
      return inner_->Write(data, size, written);
    }
    IoResult Flush() override { return inner_->Flush(); }
    IoResult SetTimes(platform::FileTime time) override { return inner_->SetTimes(time); }
    IoResult CurrentSize(std::uint64_t& size) override { return inner_->CurrentSize(size); }
    IoResult OpenUncachedReader(std::unique_ptr<platform::UncachedReader>& reader) override {
      return inner_->OpenUncachedReader(reader);
    }
    IoResult Close() override {
      const IoResult result = inner_->Close();
      if (owner_.after_overwrite_closed) owner_.after_overwrite_closed(path_);
      return result;
    }

   private:
    std::unique_ptr<OpenFile> inner_;
    Text path_;
    ObservingFileSystem& owner_;
  };

  platform::FileSystem& inner_ = platform::SystemFileSystem();
};

}  // namespace nulvane::testing
