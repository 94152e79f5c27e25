// The operating system's FileSystem, declared once for every system. Each system implements it
// in files of its own folder, one idea each: *_entry_operations.cpp (inspection, overwrite,
// stamp, rename, removal of one entry through its folder chain), *_file_system_list.cpp
// (looking up and listing), *_fill_folder.cpp (the fill's held folder), *_paths.cpp (paths,
// volumes, times) and *_open_file.cpp (the open file itself).
#pragma once

#include "platform/file_system.h"

namespace nulvane::platform {

class NativeFileSystem final : public FileSystem {
 public:
  IoResult Inspect(const EntryRef& entry, EntryInfo& info) override;
  IoResult FindEntry(TextView path, EntryInfo& info) override;
  IoResult IdentifyAnchor(TextView anchor, EntryIdentity& identity) override;
  IoResult ListFolder(const EntryRef& folder,
                      const std::function<void(TextView name, const EntryInfo&)>& visit) override;
  bool ListingsTellIdentities() const override;
  IoResult OpenForOverwrite(const EntryRef& entry, std::unique_ptr<OpenFile>& file,
                            OpenedFileInfo& info) override;
  IoResult OpenFolderForStamp(const EntryRef& entry, std::unique_ptr<OpenFile>& folder) override;
  IoResult CreateNewFile(TextView path, std::unique_ptr<OpenFile>& file,
                         Caching caching = Caching::kBuffered) override;
  IoResult RenameNoReplace(const EntryRef& from, TextView to, EntryIdentity& after) override;
  IoResult DeleteFile(const EntryRef& entry) override;
  IoResult RemoveFolder(const EntryRef& entry) override;
  IoResult CreateFolder(TextView path) override;
  IoResult GetVolumeSpace(TextView path, VolumeSpace& space) override;
  IoResult MakeFillFolder(TextView chosen, TextView name,
                          std::unique_ptr<FillFolder>& folder) override;
  Text FullPath(TextView path) override;
  void ForgetOpenFolders() override;
};

}  // namespace nulvane::platform
