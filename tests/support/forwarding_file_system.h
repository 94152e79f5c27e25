// A FileSystem that hands every call to another one (by default the system's), and an OpenFile
// that does the same: the base of the tests' hooks, which override only the calls they watch.
#pragma once

#include <memory>

#include "platform/file_system.h"

namespace nulvane::testing {

class ForwardingOpenFile : public platform::OpenFile {
 public:
  explicit ForwardingOpenFile(std::unique_ptr<platform::OpenFile> inner)
      : inner_(std::move(inner)) {}

  platform::IoResult Write(const void* data, std::size_t size, std::size_t& written) override {
    return inner_->Write(data, size, written);
  }
  platform::IoResult WriteRepeated(const void* block, std::size_t block_size, std::size_t count,
                                   std::size_t& written) override {
    return inner_->WriteRepeated(block, block_size, count, written);
  }
  platform::IoResult Flush() override { return inner_->Flush(); }
  platform::IoResult SetTimes(platform::FileTime time) override { return inner_->SetTimes(time); }
  platform::IoResult Identity(platform::EntryIdentity& identity) override {
    return inner_->Identity(identity);
  }
  platform::IoResult Close() override { return inner_->Close(); }
  platform::IoResult RestoreAttributes() override { return inner_->RestoreAttributes(); }
  platform::IoResult CurrentSize(std::uint64_t& size) override { return inner_->CurrentSize(size); }
  platform::IoResult OpenUncachedReader(
      std::unique_ptr<platform::UncachedReader>& reader) override {
    return inner_->OpenUncachedReader(reader);
  }
  platform::IoResult Seek(std::uint64_t offset) override { return inner_->Seek(offset); }
  platform::IoResult DataRanges(std::uint64_t size,
                                std::vector<platform::ByteRange>& ranges) override {
    return inner_->DataRanges(size, ranges);
  }
  platform::IoResult ListStreams(std::vector<platform::StreamInfo>& streams) override {
    return inner_->ListStreams(streams);
  }
  platform::IoResult OpenStream(TextView name, std::unique_ptr<platform::OpenFile>& stream,
                                platform::OpenedFileInfo& info) override {
    return inner_->OpenStream(name, stream, info);
  }
  platform::IoResult OverwriteExtendedAttributes(
      std::vector<UnreachedAttribute>& unreached) override {
    return inner_->OverwriteExtendedAttributes(unreached);
  }

 protected:
  platform::OpenFile& inner() { return *inner_; }

 private:
  std::unique_ptr<platform::OpenFile> inner_;
};

class ForwardingFileSystem : public platform::FileSystem {
 public:
  explicit ForwardingFileSystem(platform::FileSystem& inner = platform::SystemFileSystem())
      : inner_(inner) {}

  platform::IoResult Inspect(const platform::EntryRef& entry, platform::EntryInfo& info) override {
    return inner_.Inspect(entry, info);
  }
  platform::IoResult FindEntry(TextView path, platform::EntryInfo& info) override {
    return inner_.FindEntry(path, info);
  }
  platform::IoResult IdentifyAnchor(TextView anchor, platform::EntryIdentity& identity) override {
    return inner_.IdentifyAnchor(anchor, identity);
  }
  platform::IoResult ListFolder(
      const platform::EntryRef& folder,
      const std::function<void(TextView, const platform::EntryInfo&)>& visit) override {
    return inner_.ListFolder(folder, visit);
  }
  bool ListingsTellIdentities() const override { return inner_.ListingsTellIdentities(); }
  platform::IoResult OpenForOverwrite(const platform::EntryRef& entry,
                                      std::unique_ptr<platform::OpenFile>& file,
                                      platform::OpenedFileInfo& info) override {
    return inner_.OpenForOverwrite(entry, file, info);
  }
  platform::IoResult OpenFolderForStamp(const platform::EntryRef& entry,
                                        std::unique_ptr<platform::OpenFile>& folder) override {
    return inner_.OpenFolderForStamp(entry, folder);
  }
  platform::IoResult CreateNewFile(TextView path, std::unique_ptr<platform::OpenFile>& file,
                                   platform::Caching caching) override {
    return inner_.CreateNewFile(path, file, caching);
  }
  using platform::FileSystem::RenameNoReplace;
  platform::IoResult RenameNoReplace(const platform::EntryRef& from, TextView to,
                                     platform::EntryIdentity& after) override {
    return inner_.RenameNoReplace(from, to, after);
  }
  platform::IoResult DeleteFile(const platform::EntryRef& entry) override {
    return inner_.DeleteFile(entry);
  }
  platform::IoResult RemoveFolder(const platform::EntryRef& entry) override {
    return inner_.RemoveFolder(entry);
  }
  platform::IoResult CreateFolder(TextView path) override { return inner_.CreateFolder(path); }
  platform::IoResult GetVolumeSpace(TextView path, platform::VolumeSpace& space) override {
    return inner_.GetVolumeSpace(path, space);
  }
  platform::IoResult MakeFillFolder(TextView chosen, TextView name,
                                    std::unique_ptr<platform::FillFolder>& folder) override {
    return inner_.MakeFillFolder(chosen, name, folder);
  }
  Text FullPath(TextView path) override { return inner_.FullPath(path); }
  void ForgetOpenFolders() override { inner_.ForgetOpenFolders(); }

 protected:
  platform::FileSystem& inner() { return inner_; }

 private:
  platform::FileSystem& inner_;
};

}  // namespace nulvane::testing
