// The operating system's FileSystem, declared once for every system. Each system implements it
// in two files of its own folder: *_file_system_write.cpp (inspection, overwrite, rename,
// removal, volume space) and *_file_system_list.cpp (FindEntry, ListFolder, FoldPathKey).
#pragma once

#include "platform/file_system.h"

namespace nulvane::platform {

class NativeFileSystem final : public FileSystem {
 public:
  IoResult Inspect(TextView path, EntryInfo& info) override;
  IoResult FindEntry(TextView path, EntryInfo& info) override;
  IoResult ListFolder(TextView folder,
                      const std::function<void(TextView name, const EntryInfo&)>& visit) override;
  IoResult MakeWritable(TextView path) override;
  IoResult OpenForOverwrite(TextView path, std::unique_ptr<OpenFile>& file,
                            OpenedFileInfo& info) override;
  IoResult OpenFolderForStamp(TextView path, std::unique_ptr<OpenFile>& folder) override;
  IoResult CreateNewFile(TextView path, std::unique_ptr<OpenFile>& file,
                         Caching caching = Caching::kBuffered) override;
  IoResult RenameNoReplace(TextView from, TextView to) override;
  IoResult DeleteFile(TextView path) override;
  IoResult RemoveFolder(TextView path) override;
  IoResult CreateFolder(TextView path) override;
  IoResult GetVolumeSpace(TextView path, VolumeSpace& space) override;
  IoResult PrepareFillFolder(TextView folder) override;
  Text FullPath(TextView path) override;

  // The fill's folder as the system resolves it.
  IoResult ResolveFolder(TextView path, Text& resolved) override;
  IoResult ReleaseFillFolder(TextView folder) override;
};

}  // namespace nulvane::platform
