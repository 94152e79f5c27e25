#include "support/fake_file_system.h"

#include <algorithm>
#include <atomic>
#include <map>

namespace nulvane::testing {

using platform::EntryInfo;
using platform::EntryKind;
using platform::IoResult;

const char* FsOpName(FsOp op) {
  switch (op) {
    case FsOp::kInspect:
      return "Inspect";
    case FsOp::kFindEntry:
      return "FindEntry";
    case FsOp::kListFolder:
      return "ListFolder";
    case FsOp::kOpenForOverwrite:
      return "OpenForOverwrite";
    case FsOp::kOpenFolderForStamp:
      return "OpenFolderForStamp";
    case FsOp::kCreateNewFile:
      return "CreateNewFile";
    case FsOp::kRenameNoReplace:
      return "RenameNoReplace";
    case FsOp::kDeleteFile:
      return "DeleteFile";
    case FsOp::kRemoveFolder:
      return "RemoveFolder";
    case FsOp::kCreateFolder:
      return "CreateFolder";
    case FsOp::kGetVolumeSpace:
      return "GetVolumeSpace";
    case FsOp::kIdentifyAnchor:
      return "IdentifyAnchor";
    case FsOp::kFullPath:
      return "FullPath";
    case FsOp::kResolveFolder:
      return "ResolveFolder";
    case FsOp::kCurrentSize:
      return "CurrentSize";
    case FsOp::kOpenUncachedReader:
      return "OpenUncachedReader";
    case FsOp::kReadNext:
      return "ReadNext";
    case FsOp::kWrite:
      return "Write";
    case FsOp::kWriteDirect:
      return "WriteDirect";
    case FsOp::kFlush:
      return "Flush";
    case FsOp::kSetTimes:
      return "SetTimes";
    case FsOp::kClose:
      return "Close";
    case FsOp::kDataRanges:
      return "DataRanges";
    case FsOp::kListStreams:
      return "ListStreams";
    case FsOp::kOpenStream:
      return "OpenStream";
  }
  return "?";
}

Text FakePath(std::u16string_view relative) {
#ifdef _WIN32
  Text path = u"C:\\";
#else
  Text path = u"/";
#endif
  for (char16_t c : relative) path.push_back(c == u'/' ? platform::kPathSeparator : c);
  return path;
}

namespace {

constexpr char16_t kSeparator = platform::kPathSeparator;

// The folder part of `path`; empty for an entry directly under a root.
TextView ParentOf(TextView path) {
  const std::size_t last = path.rfind(kSeparator);
  if (last == TextView::npos) return {};
  return path.substr(0, last);
}

bool IsRoot(TextView path) {
  return path.empty() || (path.size() == 2 && path[1] == u':') || path == TextView(&kSeparator, 1);
}

bool IsAbsolute(TextView path) {
  return (!path.empty() && path[0] == kSeparator) || (path.size() >= 2 && path[1] == u':');
}

bool IsInside(TextView path, TextView folder) {
  return path.size() > folder.size() && path.substr(0, folder.size()) == folder &&
         path[folder.size()] == kSeparator;
}

}  // namespace

std::uint64_t NextObjectId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

// When an object came to be: no two objects share one, whatever number they were given.
std::uint64_t NextBirth() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

// The content and attributes of a file or folder, shared by all names of a hard-linked file.
struct FakeFileSystem::Data {
  std::vector<unsigned char> bytes;
  Times times;
  bool read_only = false;
  bool stored_elsewhere = false;
  bool held_open = false;
  bool created_new = false;  // made by CreateNewFile
  int open_count = 0;
  // The object's number (its "inode"): shared by hard links, new for every entry made unless a
  // test hands a freed number out again.
  std::uint64_t id = NextObjectId();
  std::uint64_t birth = NextBirth();
  // The change time: moved on by every write, stamp, rename and attribute change.
  std::uint64_t change = NextBirth();
  bool folder = false;
  std::optional<std::uint64_t> corrupt_read_at;  // the read-back shows a non-zero byte there
  // ---- beyond the unnamed data ----
  std::map<Text, std::shared_ptr<Data>, std::less<>> streams;   // named data streams, by name
  std::optional<std::vector<platform::ByteRange>> sparse_data;  // a sparse file's data ranges
};

struct FakeFileSystem::Node {
  EntryKind kind = EntryKind::kMissing;
  std::shared_ptr<Data> data = std::make_shared<Data>();
  Text link_target;
  bool link_to_folder = false;
};

platform::EntryIdentity FakeFileSystem::IdentityOfData(const Data& data) const {
  platform::EntryIdentity identity;
  identity.volume = kFakeVolume;
  identity.object = data.id;
  identity.known = true;
  if (!change_time_identities_) {
    identity.stamp = data.birth;
    identity.stamp_kind = platform::IdentityStamp::kBirthTime;
  } else if (!data.folder) {
    // A folder's change time moves with every entry that comes or goes in it: no identity.
    identity.stamp = data.change;
    identity.stamp_kind = platform::IdentityStamp::kChangeTime;
  }
  return identity;
}

// Reads a copy of the content as it stands when each chunk is read.
class FakeFileSystem::FakeReader final : public platform::UncachedReader {
 public:
  FakeReader(FakeFileSystem& fs, std::shared_ptr<Data> data, Text path)
      : fs_(fs), data_(std::move(data)), path_(std::move(path)) {}

  IoResult Seek(std::uint64_t offset, std::uint64_t& at) override {
    offset_ = at = offset;
    return IoResult::Ok();
  }

  IoResult ReadNext(const unsigned char*& data, std::size_t& size) override {
    data = nullptr;
    size = 0;
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kReadNext, path_, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    const std::vector<unsigned char>& bytes = data_->bytes;
    if (offset_ < bytes.size()) {
      const std::size_t take =
          std::min<std::size_t>(fs_.read_chunk_, bytes.size() - static_cast<std::size_t>(offset_));
      chunk_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(offset_),
                    bytes.begin() + static_cast<std::ptrdiff_t>(offset_ + take));
      if (data_->corrupt_read_at && *data_->corrupt_read_at >= offset_ &&
          *data_->corrupt_read_at < offset_ + take) {
        chunk_[static_cast<std::size_t>(*data_->corrupt_read_at - offset_)] = 0x55;
      }
      offset_ += take;
      data = chunk_.data();
      size = take;
    }
    fs_.calls_[index].error = 0;
    return IoResult::Ok();
  }

 private:
  FakeFileSystem& fs_;
  std::shared_ptr<Data> data_;
  Text path_;
  std::uint64_t offset_ = 0;
  std::vector<unsigned char> chunk_;
};

class FakeFileSystem::FakeOpenFile final : public platform::OpenFile {
 public:
  FakeOpenFile(FakeFileSystem& fs, std::shared_ptr<Data> data, Text path, bool exclusive,
               bool made_writable = false)
      : fs_(fs),
        data_(std::move(data)),
        path_(std::move(path)),
        exclusive_(exclusive),
        made_writable_(made_writable) {
    ++fs_.open_handles_;
    if (exclusive_) ++data_->open_count;
  }
  ~FakeOpenFile() override {
    std::lock_guard lock(fs_.mutex_);
    Release();
  }

  IoResult Write(const void* bytes, std::size_t size, std::size_t& written) override {
    return WriteAs(FsOp::kWrite, bytes, size, written);
  }

  IoResult StartDirectWrites(DirectAlignment& alignment) override {
    alignment = DirectAlignment{};
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return IoResult::Fail(FakeError::kBadHandle);
    if (!fs_.direct_writes_offered_) return IoResult::Fail(FakeError::kInvalid);
    alignment.block = alignment.memory = fs_.sector_size_;
    return IoResult::Ok();
  }

  IoResult WriteDirect(const void* bytes, std::size_t size, std::size_t& written) override {
    return WriteAs(FsOp::kWriteDirect, bytes, size, written);
  }

  IoResult Flush() override { return Simple(FsOp::kFlush); }

  IoResult SetTimes(platform::FileTime time) override {
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kSetTimes, path_, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    data_->times = Times{time, time, time};
    data_->change = NextBirth();
    return FinishLocked(index, IoResult::Ok());
  }

  IoResult Identity(platform::EntryIdentity& identity) override {
    std::lock_guard lock(fs_.mutex_);
    identity = closed_ ? platform::EntryIdentity{} : fs_.IdentityOfData(*data_);
    return closed_ ? IoResult::Fail(FakeError::kBadHandle) : IoResult::Ok();
  }

  IoResult RestoreAttributes() override {
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return IoResult::Fail(FakeError::kBadHandle);
    if (made_writable_) {
      data_->read_only = true;
      data_->change = NextBirth();
    }
    made_writable_ = false;
    return IoResult::Ok();
  }

  IoResult Close() override {
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kClose, path_, {}, 0, index);
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    // A failing close still releases the handle, as on every real system.
    Release();
    return FinishLocked(index, injected ? IoResult::Fail(injected) : IoResult::Ok());
  }

  IoResult CurrentSize(std::uint64_t& size) override {
    size = 0;
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kCurrentSize, path_, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    size = data_->bytes.size();
    return FinishLocked(index, IoResult::Ok());
  }

  IoResult Seek(std::uint64_t offset) override {
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return IoResult::Fail(FakeError::kBadHandle);
    position_ = offset;
    return IoResult::Ok();
  }

  // ---- beyond the unnamed data: holes and named streams ----

  IoResult DataRanges(std::uint64_t size, std::vector<platform::ByteRange>& ranges) override {
    ranges.clear();
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kDataRanges, path_, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    if (!data_->sparse_data) {
      if (size > 0) ranges.push_back({0, size});
    } else {
      for (const platform::ByteRange& range : *data_->sparse_data) {
        if (range.offset >= size) break;
        ranges.push_back({range.offset, std::min(range.length, size - range.offset)});
      }
    }
    return FinishLocked(index, IoResult::Ok());
  }

  IoResult ListStreams(std::vector<platform::StreamInfo>& streams) override {
    streams.clear();
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kListStreams, path_, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    for (const auto& [name, stream] : data_->streams) {
      streams.push_back({name, stream->bytes.size()});
    }
    return FinishLocked(index, IoResult::Ok());
  }

  // Relative to this handle, as NTFS opens ":name:$DATA" with the file as RootDirectory: the
  // stream of this very object. Others may read it meanwhile, as its unnamed data.
  IoResult OpenStream(TextView name, std::unique_ptr<platform::OpenFile>& stream,
                      platform::OpenedFileInfo& info) override {
    stream.reset();
    info = platform::OpenedFileInfo{};
    Text shown = path_ + u":" + Text(name);
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kOpenStream, shown, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    const auto found = data_->streams.find(name);
    if (found == data_->streams.end())
      return FinishLocked(index, IoResult::Fail(FakeError::kNotFound));
    if (found->second->open_count > 0)
      return FinishLocked(index, IoResult::Fail(FakeError::kInUse));
    info.size = found->second->bytes.size();
    info.may_have_holes = found->second->sparse_data.has_value();
    stream = std::make_unique<FakeOpenFile>(fs_, found->second, std::move(shown), true);
    return FinishLocked(index, IoResult::Ok());
  }

  IoResult OpenUncachedReader(std::unique_ptr<platform::UncachedReader>& reader) override {
    reader.reset();
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(FsOp::kOpenUncachedReader, path_, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    reader = std::make_unique<FakeReader>(fs_, data_, path_);
    return FinishLocked(index, IoResult::Ok());
  }

 private:
  // A write through the cache (kWrite) or past it (kWriteDirect, held to the sector rule of an
  // unbuffered handle; writes to created files under RequireSectorAlignedWrites keep to its
  // size and address part).
  IoResult WriteAs(FsOp op, const void* bytes, std::size_t size, std::size_t& written) {
    written = 0;
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(op, path_, {}, size, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    const auto address = reinterpret_cast<std::uintptr_t>(bytes);
    const std::uint32_t sector = fs_.sector_size_;
    const bool whole_sectors = size % sector == 0 && address % sector == 0;
    if (op == FsOp::kWriteDirect && (!whole_sectors || position_ % sector != 0)) {
      return FinishLocked(index, IoResult::Fail(FakeError::kInvalid));
    }
    if (data_->created_new && fs_.sector_aligned_writes_ && !whole_sectors) {
      return FinishLocked(index, IoResult::Fail(FakeError::kInvalid));
    }
    std::size_t take = size;
    if (fs_.max_write_chunk_ != 0) take = std::min(take, fs_.max_write_chunk_);
    if (fs_.max_file_size_ != 0 && position_ + take > fs_.max_file_size_) {
      if (position_ >= fs_.max_file_size_) {
        return FinishLocked(index, IoResult::Fail(IoResult::kFileTooLarge));
      }
      take = static_cast<std::size_t>(fs_.max_file_size_ - position_);
    }
    // Only bytes beyond the current end need new space.
    const std::uint64_t end = position_ + take;
    const std::uint64_t growth = end > data_->bytes.size() ? end - data_->bytes.size() : 0;
    const std::uint64_t free_bytes = fs_.FreeBytesLocked();
    if (growth > free_bytes) {
      const std::uint64_t fits = take - (growth - free_bytes);
      if (fits == 0) return FinishLocked(index, IoResult::Fail(IoResult::kDiskFull));
      take = static_cast<std::size_t>(fits);
    }
    const auto* source = static_cast<const unsigned char*>(bytes);
    if (position_ + take > data_->bytes.size()) data_->bytes.resize(position_ + take);
    std::copy(source, source + take, data_->bytes.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ += take;
    written = take;
    data_->change = NextBirth();
    return FinishLocked(index, IoResult::Ok());
  }

  IoResult Simple(FsOp op) {
    std::size_t index = 0;
    const std::uint32_t injected = fs_.Begin(op, path_, {}, 0, index);
    if (injected) return fs_.Finish(index, IoResult::Fail(injected));
    std::lock_guard lock(fs_.mutex_);
    if (closed_) return FinishLocked(index, IoResult::Fail(FakeError::kBadHandle));
    return FinishLocked(index, IoResult::Ok());
  }

  IoResult FinishLocked(std::size_t index, IoResult result) {
    fs_.calls_[index].error = result.error;
    return result;
  }

  void Release() {
    if (closed_) return;
    closed_ = true;
    --fs_.open_handles_;
    if (exclusive_) --data_->open_count;
    // A nameless file's space comes back with its last handle.
    auto& nameless = fs_.nameless_files_;
    nameless.erase(std::remove(nameless.begin(), nameless.end(), data_), nameless.end());
  }

  FakeFileSystem& fs_;
  std::shared_ptr<Data> data_;
  Text path_;
  bool exclusive_;
  bool made_writable_;
  bool closed_ = false;
  std::uint64_t position_ = 0;
};

FakeFileSystem::FakeFileSystem()
    : current_folder_(FakePath(u"cwd")), root_(std::make_unique<Node>()) {
  root_->kind = EntryKind::kFolder;
  root_->data->folder = true;
}
FakeFileSystem::~FakeFileSystem() = default;

// ---- building ----

void FakeFileSystem::Put(TextView path, Node node) {
  EnsureParents(path);
  nodes_.insert_or_assign(Text(path), std::move(node));
}

void FakeFileSystem::EnsureParents(TextView path) {
  const TextView parent = ParentOf(path);
  if (IsRoot(parent)) return;
  if (nodes_.find(parent) == nodes_.end()) {
    EnsureParents(parent);
    Node folder;
    folder.kind = EntryKind::kFolder;
    folder.data->folder = true;
    nodes_.emplace(Text(parent), std::move(folder));
  }
}

void FakeFileSystem::AddFolder(TextView path) {
  std::lock_guard lock(mutex_);
  Node node;
  node.kind = EntryKind::kFolder;
  node.data->folder = true;
  Put(path, std::move(node));
}

void FakeFileSystem::AddFile(TextView path, std::vector<unsigned char> content) {
  std::lock_guard lock(mutex_);
  Node node;
  node.kind = EntryKind::kFile;
  node.data->bytes = std::move(content);
  Put(path, std::move(node));
}

void FakeFileSystem::AddFile(TextView path, std::string_view content) {
  AddFile(path, std::vector<unsigned char>(content.begin(), content.end()));
}

void FakeFileSystem::AddFileOfSize(TextView path, std::size_t size) {
  std::vector<unsigned char> content(size);
  for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<unsigned char>('A' + i % 26);
  AddFile(path, std::move(content));
}

void FakeFileSystem::AddLink(TextView path, TextView target, bool to_folder) {
  std::lock_guard lock(mutex_);
  Node node;
  node.kind = EntryKind::kLink;
  node.link_target = Text(target);
  node.link_to_folder = to_folder;
  Put(path, std::move(node));
}

void FakeFileSystem::AddHardLink(TextView existing, TextView path) {
  std::lock_guard lock(mutex_);
  const Node* original = Find(existing);
  if (!original) return;
  Node node = *original;
  Put(path, std::move(node));
}

void FakeFileSystem::AddOther(TextView path) {
  std::lock_guard lock(mutex_);
  Node node;
  node.kind = EntryKind::kOther;
  Put(path, std::move(node));
}

void FakeFileSystem::SetReadOnly(TextView path, bool read_only) {
  std::lock_guard lock(mutex_);
  if (Node* node = Find(path)) node->data->read_only = read_only;
}

void FakeFileSystem::SetStoredElsewhere(TextView path, bool value) {
  std::lock_guard lock(mutex_);
  if (Node* node = Find(path)) node->data->stored_elsewhere = value;
}

void FakeFileSystem::SetHeldOpen(TextView path, bool held) {
  std::lock_guard lock(mutex_);
  if (Node* node = Find(path)) node->data->held_open = held;
}

void FakeFileSystem::SetCapacity(std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  capacity_ = bytes;
}

void FakeFileSystem::SetSectorSize(std::uint32_t bytes) {
  std::lock_guard lock(mutex_);
  sector_size_ = bytes;
}

void FakeFileSystem::ReportFreeBytes(std::optional<std::uint64_t> bytes) {
  std::lock_guard lock(mutex_);
  reported_free_ = bytes;
}

void FakeFileSystem::ReportTotalBytes(std::optional<std::uint64_t> bytes) {
  std::lock_guard lock(mutex_);
  reported_total_ = bytes;
}

void FakeFileSystem::SetMaxFileSize(std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  max_file_size_ = bytes;
}

void FakeFileSystem::SetMaxWriteChunk(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  max_write_chunk_ = bytes;
}

void FakeFileSystem::OfferDirectWrites(bool offered) {
  std::lock_guard lock(mutex_);
  direct_writes_offered_ = offered;
}

void FakeFileSystem::RequireSectorAlignedWrites(bool required) {
  std::lock_guard lock(mutex_);
  sector_aligned_writes_ = required;
}

void FakeFileSystem::SetCurrentFolder(TextView folder) {
  std::lock_guard lock(mutex_);
  current_folder_ = Text(folder);
}

void FakeFileSystem::SetResolvedFolder(TextView path, TextView resolved) {
  std::lock_guard lock(mutex_);
  resolved_folders_.insert_or_assign(Text(path), Text(resolved));
}

void FakeFileSystem::Append(TextView path, std::size_t size) {
  std::lock_guard lock(mutex_);
  Node* node = Find(path);
  if (!node || node->kind != EntryKind::kFile) return;
  std::vector<unsigned char>& bytes = node->data->bytes;
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<unsigned char>('a' + i % 26));
}

void FakeFileSystem::CorruptReadBack(TextView path, std::uint64_t offset) {
  std::lock_guard lock(mutex_);
  if (Node* node = Find(path)) node->data->corrupt_read_at = offset;
}

void FakeFileSystem::SetReadChunk(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  read_chunk_ = bytes == 0 ? 1 : bytes;
}

// ---- what a file or folder holds beyond its unnamed data ----

void FakeFileSystem::AddStream(TextView path, TextView name, std::string_view content) {
  std::lock_guard lock(mutex_);
  Node* node = Find(path);
  if (!node) return;
  auto stream = std::make_shared<Data>();
  stream->bytes.assign(content.begin(), content.end());
  node->data->streams.insert_or_assign(Text(name), std::move(stream));
}

std::optional<std::vector<unsigned char>> FakeFileSystem::StreamContent(TextView path,
                                                                        TextView name) const {
  std::lock_guard lock(mutex_);
  const Node* node = Find(path);
  if (!node) return std::nullopt;
  const auto found = node->data->streams.find(Text(name));
  if (found == node->data->streams.end()) return std::nullopt;
  return found->second->bytes;
}

void FakeFileSystem::MakeSparse(TextView path, std::vector<platform::ByteRange> data) {
  std::lock_guard lock(mutex_);
  Node* node = Find(path);
  if (!node) return;
  std::vector<unsigned char>& bytes = node->data->bytes;
  std::vector<unsigned char> sparse(bytes.size(), 0);  // holes read as zeros
  for (const platform::ByteRange& range : data) {
    for (std::uint64_t i = range.offset; i < range.offset + range.length && i < bytes.size(); ++i) {
      sparse[static_cast<std::size_t>(i)] = bytes[static_cast<std::size_t>(i)];
    }
  }
  bytes = std::move(sparse);
  node->data->sparse_data = std::move(data);
}

// ---- faults and recording ----

void FakeFileSystem::FailNth(FsOp op, int nth, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  faults_.push_back({op, nth, {}, error});
}

void FakeFileSystem::FailAlways(FsOp op, std::uint32_t error, TextView path) {
  std::lock_guard lock(mutex_);
  faults_.push_back({op, 0, Text(path), error});
}

void FakeFileSystem::FailNthCall(int nth, std::uint32_t error) {
  std::lock_guard lock(mutex_);
  faults_.push_back({std::nullopt, nth, {}, error});
}

void FakeFileSystem::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void FakeFileSystem::SetObserver(std::function<void(const FsCall&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

std::uint32_t FakeFileSystem::Begin(FsOp op, TextView path, TextView path2, std::uint64_t size,
                                    std::size_t& index) {
  std::function<void(const FsCall&)> observer;
  FsCall call{op, Text(path), Text(path2), size, 0};
  std::uint32_t injected = 0;
  {
    std::lock_guard lock(mutex_);
    const int of_kind = ++op_counts_[op];
    calls_.push_back(call);
    index = calls_.size() - 1;
    const int overall = static_cast<int>(calls_.size());
    for (const Fault& fault : faults_) {
      if (fault.op && *fault.op != op) continue;
      if (!fault.path.empty() && fault.path != path) continue;
      if (fault.nth != 0 && fault.nth != (fault.op ? of_kind : overall)) continue;
      injected = fault.error;
      break;
    }
    observer = observer_;
  }
  if (observer) observer(call);
  return injected;
}

IoResult FakeFileSystem::Finish(std::size_t index, IoResult result) {
  std::lock_guard lock(mutex_);
  calls_[index].error = result.error;
  return result;
}

// ---- lookups (under mutex_) ----

FakeFileSystem::Node* FakeFileSystem::Find(TextView path) {
  const auto it = nodes_.find(path);
  return it == nodes_.end() ? nullptr : &it->second;
}

const FakeFileSystem::Node* FakeFileSystem::Find(TextView path) const {
  const auto it = nodes_.find(path);
  return it == nodes_.end() ? nullptr : &it->second;
}

bool FakeFileSystem::ParentIsFolder(TextView path) const {
  const TextView parent = ParentOf(path);
  if (IsRoot(parent)) return true;
  const Node* node = Find(parent);
  return node && node->kind == EntryKind::kFolder;
}

std::uint64_t FakeFileSystem::UsedBytesLocked() const {
  std::vector<const Data*> seen;
  std::uint64_t used = 0;
  for (const auto& [path, node] : nodes_) {
    if (node.kind != EntryKind::kFile) continue;
    if (std::find(seen.begin(), seen.end(), node.data.get()) != seen.end()) continue;
    seen.push_back(node.data.get());
    used += node.data->bytes.size();
  }
  for (const auto& data : nameless_files_) used += data->bytes.size();
  return used;
}

std::uint64_t FakeFileSystem::FreeBytesLocked() const {
  const std::uint64_t used = UsedBytesLocked();
  return used >= capacity_ ? 0 : capacity_ - used;
}

EntryInfo FakeFileSystem::InfoOf(const Node& node) const {
  EntryInfo info;
  info.kind = node.kind;
  info.size = node.kind == EntryKind::kFile ? node.data->bytes.size() : 0;
  info.link_to_folder = node.link_to_folder;
  info.identity = IdentityOfData(*node.data);
  return info;
}

// The folder an anchor names: its text without the last separator, a link there followed once
// (the user's own path is followed as typed).
const FakeFileSystem::Node* FakeFileSystem::AnchorNode(TextView anchor) const {
  TextView folder = anchor;
  if (folder.size() > 1 && folder.back() == kSeparator) folder.remove_suffix(1);
  if (IsRoot(folder) || (folder.size() == 3 && folder[1] == u':')) return root_.get();
  const Node* node = Find(folder);
  if (node && node->kind == EntryKind::kLink) node = Find(node->link_target);
  return node;
}

// Whether the node found is the one `entry` expects, in the anchor folder it expects.
bool FakeFileSystem::Admits(const platform::EntryRef& entry, const Node& node) const {
  if (!entry.Admits(IdentityOfData(*node.data))) return false;
  if (entry.anchor_identity.known) {
    const Node* anchor = AnchorNode(entry.path.substr(0, entry.anchor_length));
    if (!anchor || !entry.AdmitsAnchor(IdentityOfData(*anchor->data))) return false;
  }
  return true;
}

platform::EntryIdentity FakeFileSystem::IdentityOf(TextView path) const {
  std::lock_guard lock(mutex_);
  const Node* node = Find(path);
  if (!node) return {};
  return IdentityOfData(*node->data);
}

FakeFileSystem::Entry FakeFileSystem::EntryOf(const Node& node) const {
  Entry entry;
  entry.kind = node.kind;
  if (node.kind == EntryKind::kFile) entry.content = node.data->bytes;
  entry.times = node.data->times;
  entry.link_target = node.link_target;
  entry.link_to_folder = node.link_to_folder;
  entry.read_only = node.data->read_only;
  entry.link_count = 0;
  for (const auto& [path, other] : nodes_)
    if (other.data == node.data) ++entry.link_count;
  return entry;
}

// ---- observation ----

bool FakeFileSystem::Exists(TextView path) const {
  std::lock_guard lock(mutex_);
  return Find(path) != nullptr;
}

EntryKind FakeFileSystem::KindOf(TextView path) const {
  std::lock_guard lock(mutex_);
  const Node* node = Find(path);
  return node ? node->kind : EntryKind::kMissing;
}

std::optional<std::vector<unsigned char>> FakeFileSystem::Content(TextView path) const {
  std::lock_guard lock(mutex_);
  const Node* node = Find(path);
  if (!node || node->kind != EntryKind::kFile) return std::nullopt;
  return node->data->bytes;
}

std::optional<FakeFileSystem::Times> FakeFileSystem::TimesOf(TextView path) const {
  std::lock_guard lock(mutex_);
  const Node* node = Find(path);
  if (!node) return std::nullopt;
  return node->data->times;
}

std::optional<FakeFileSystem::Entry> FakeFileSystem::EntryAt(TextView path) const {
  std::lock_guard lock(mutex_);
  const Node* node = Find(path);
  if (!node) return std::nullopt;
  return EntryOf(*node);
}

FakeFileSystem::Snapshot FakeFileSystem::TakeSnapshot() const {
  std::lock_guard lock(mutex_);
  Snapshot snapshot;
  for (const auto& [path, node] : nodes_) snapshot.emplace(path, EntryOf(node));
  return snapshot;
}

std::vector<Text> FakeFileSystem::Children(TextView folder) const {
  std::lock_guard lock(mutex_);
  std::vector<Text> out;
  for (const auto& [path, node] : nodes_)
    if (ParentOf(path) == folder) out.push_back(path);
  return out;
}

std::vector<FsCall> FakeFileSystem::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<FsCall> FakeFileSystem::CallsOf(FsOp op) const {
  std::lock_guard lock(mutex_);
  std::vector<FsCall> out;
  for (const FsCall& call : calls_)
    if (call.op == op) out.push_back(call);
  return out;
}

int FakeFileSystem::CallCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(calls_.size());
}

int FakeFileSystem::CountOf(FsOp op) const { return static_cast<int>(CallsOf(op).size()); }

std::uint64_t FakeFileSystem::UsedBytes() const {
  std::lock_guard lock(mutex_);
  return UsedBytesLocked();
}

int FakeFileSystem::OpenHandles() const {
  std::lock_guard lock(mutex_);
  return open_handles_;
}

// ---- FileSystem ----

// Inspect and FindEntry answer alike here (the fake knows no wildcards); each records its own op.
IoResult FakeFileSystem::LookUp(FsOp op, TextView path, EntryInfo& info) {
  info = EntryInfo{};
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(op, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  const Node* node = Find(path);
  const IoResult result = node ? IoResult::Ok() : IoResult::Fail(FakeError::kNotFound);
  if (node) info = InfoOf(*node);
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::Inspect(const platform::EntryRef& entry, EntryInfo& info) {
  return LookUp(FsOp::kInspect, entry.path, info);
}

IoResult FakeFileSystem::FindEntry(TextView path, EntryInfo& info) {
  return LookUp(FsOp::kFindEntry, path, info);
}

IoResult FakeFileSystem::ListFolder(
    const platform::EntryRef& folder_entry,
    const std::function<void(TextView name, const EntryInfo&)>& visit) {
  const TextView folder = folder_entry.path;
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kListFolder, folder, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::vector<std::pair<Text, EntryInfo>> entries;
  {
    std::lock_guard lock(mutex_);
    const Node* node = Find(folder);
    if (!IsRoot(folder) && (!node || node->kind != EntryKind::kFolder)) {
      const IoResult result = IoResult::Fail(node ? FakeError::kNotFolder : FakeError::kNotFound);
      calls_[index].error = result.error;
      return result;
    }
    for (const auto& [path, child] : nodes_) {
      if (ParentOf(path) == folder) {
        entries.emplace_back(path.substr(folder.size() + 1), InfoOf(child));
      }
    }
  }
  for (const auto& [name, info] : entries) visit(name, info);
  return IoResult::Ok();
}

IoResult FakeFileSystem::OpenForOverwrite(const platform::EntryRef& entry,
                                          std::unique_ptr<platform::OpenFile>& file,
                                          platform::OpenedFileInfo& info) {
  const TextView path = entry.path;
  file.reset();
  info = platform::OpenedFileInfo{};
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kOpenForOverwrite, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  Node* node = Find(path);
  IoResult result = IoResult::Ok();
  if (!node) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else if (!Admits(entry, *node)) {
    result = IoResult::Fail(IoResult::kChangedEntry);
  } else if (node->kind != EntryKind::kFile) {
    result = IoResult::Fail(IoResult::kNotRegularFile);
  } else if (EntryOf(*node).link_count > 1) {
    // Refused before anything about it changes: it stays read-only if it was.
    result = IoResult::Fail(IoResult::kHardLinked);
  } else if (node->data->held_open || node->data->open_count > 0) {
    result = IoResult::Fail(FakeError::kInUse);
  } else {
    const bool was_read_only = node->data->read_only;
    node->data->read_only = false;  // only once the file is known to be the listed one
    if (was_read_only) node->data->change = NextBirth();
    info.size = node->data->bytes.size();
    info.link_count = EntryOf(*node).link_count;
    info.stored_elsewhere = node->data->stored_elsewhere;
    info.may_have_holes = node->data->sparse_data.has_value();
    file = std::make_unique<FakeOpenFile>(*this, node->data, Text(path), true, was_read_only);
  }
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::OpenFolderForStamp(const platform::EntryRef& entry,
                                            std::unique_ptr<platform::OpenFile>& folder) {
  const TextView path = entry.path;
  folder.reset();
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kOpenFolderForStamp, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  Node* node = Find(path);
  IoResult result = IoResult::Ok();
  if (!node) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else if (!Admits(entry, *node)) {
    result = IoResult::Fail(IoResult::kChangedEntry);
  } else if (node->kind == EntryKind::kLink) {
    result = IoResult::Fail(IoResult::kNotRegularFile);
  } else if (node->kind != EntryKind::kFolder) {
    result = IoResult::Fail(FakeError::kNotFolder);
  } else {
    node->data->read_only = false;
    folder = std::make_unique<FakeOpenFile>(*this, node->data, Text(path), false);
  }
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::CreateNewFile(TextView path, std::unique_ptr<platform::OpenFile>& file,
                                       platform::Caching caching) {
  file.reset();
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kCreateNewFile, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  last_created_unbuffered_ = caching == platform::Caching::kUnbuffered;
  IoResult result = IoResult::Ok();
  if (Find(path)) {
    result = IoResult::Fail(FakeError::kExists);
  } else if (!ParentIsFolder(path)) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else {
    Node node;
    node.kind = EntryKind::kFile;
    node.data->created_new = true;
    auto data = node.data;
    nodes_.emplace(Text(path), std::move(node));
    file = std::make_unique<FakeOpenFile>(*this, data, Text(path), true);
  }
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::RenameNoReplace(const platform::EntryRef& from_entry, TextView to,
                                         platform::EntryIdentity& after) {
  after = platform::EntryIdentity{};
  const TextView from = from_entry.path;
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kRenameNoReplace, from, to, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  IoResult result = IoResult::Ok();
  if (!Find(from)) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else if (!Admits(from_entry, *Find(from))) {
    result = IoResult::Fail(IoResult::kChangedEntry);
  } else if (ParentOf(from) != ParentOf(to)) {
    result = IoResult::Fail(FakeError::kInvalid);  // a rename stays in the entry's folder
  } else if (Find(to)) {
    result = IoResult::Fail(FakeError::kExists);
  } else if (!ParentIsFolder(to)) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else {
    // The entry and, for a folder, everything inside it move to the new name.
    std::vector<std::pair<Text, Node>> moved;
    for (auto it = nodes_.begin(); it != nodes_.end();) {
      if (it->first == from || IsInside(it->first, from)) {
        moved.emplace_back(Text(to) + it->first.substr(from.size()), std::move(it->second));
        it = nodes_.erase(it);
      } else {
        ++it;
      }
    }
    for (auto& [path, node] : moved) nodes_.emplace(std::move(path), std::move(node));
    Find(to)->data->change = NextBirth();
    after = IdentityOfData(*Find(to)->data);
  }
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::DeleteFile(const platform::EntryRef& entry) {
  const TextView path = entry.path;
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kDeleteFile, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  const auto it = nodes_.find(path);
  IoResult result = IoResult::Ok();
  if (it == nodes_.end()) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else if (!Admits(entry, it->second)) {
    result = IoResult::Fail(IoResult::kChangedEntry);
  } else if (it->second.kind == EntryKind::kFolder) {
    result = IoResult::Fail(FakeError::kIsFolder);
  } else {
    nodes_.erase(it);
  }
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::RemoveFolder(const platform::EntryRef& entry) {
  const TextView path = entry.path;
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kRemoveFolder, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  const auto it = nodes_.find(path);
  IoResult result = IoResult::Ok();
  if (it == nodes_.end()) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else if (!Admits(entry, it->second)) {
    result = IoResult::Fail(IoResult::kChangedEntry);
  } else if (it->second.kind == EntryKind::kLink && it->second.link_to_folder) {
    nodes_.erase(it);
  } else if (it->second.kind != EntryKind::kFolder) {
    result = IoResult::Fail(FakeError::kNotFolder);
  } else {
    bool empty = true;
    for (const auto& [other, node] : nodes_)
      if (IsInside(other, path)) empty = false;
    if (empty) {
      nodes_.erase(it);
    } else {
      result = IoResult::Fail(FakeError::kNotEmpty);
    }
  }
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::CreateFolder(TextView path) {
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kCreateFolder, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  IoResult result = IoResult::Ok();
  if (Find(path)) {
    result = IoResult::Fail(FakeError::kExists);
  } else if (!ParentIsFolder(path)) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else {
    Node node;
    node.kind = EntryKind::kFolder;
    node.data->folder = true;
    nodes_.emplace(Text(path), std::move(node));
  }
  calls_[index].error = result.error;
  return result;
}

IoResult FakeFileSystem::GetVolumeSpace(TextView path, platform::VolumeSpace& space) {
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kGetVolumeSpace, path, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  space.free_bytes = reported_free_ ? *reported_free_ : FreeBytesLocked();
  space.total_bytes = reported_total_ ? *reported_total_ : capacity_;
  space.sector_size = sector_size_;
  return IoResult::Ok();
}

Text FakeFileSystem::FullPath(TextView path) {
  std::size_t index = 0;
  Begin(FsOp::kFullPath, path, {}, 0, index);  // FullPath has no failure to report
  std::lock_guard lock(mutex_);
  if (path.empty() || IsAbsolute(path)) return Text(path);
  return current_folder_ + kSeparator + Text(path);
}

IoResult FakeFileSystem::IdentifyAnchor(TextView anchor, platform::EntryIdentity& identity) {
  identity = platform::EntryIdentity{};
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kIdentifyAnchor, anchor, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  std::lock_guard lock(mutex_);
  const Node* node = AnchorNode(anchor);
  IoResult result = IoResult::Ok();
  if (!node) {
    result = IoResult::Fail(FakeError::kNotFound);
  } else if (node->kind != EntryKind::kFolder) {
    result = IoResult::Fail(FakeError::kNotFolder);
  } else {
    identity = IdentityOfData(*node->data);
  }
  calls_[index].error = result.error;
  return result;
}

void FakeFileSystem::ReplaceWithNewObject(TextView path, EntryKind kind, std::string_view content,
                                          bool reuse_number) {
  std::lock_guard lock(mutex_);
  const Node* old = Find(path);
  const std::uint64_t number = old ? old->data->id : NextObjectId();
  Node node;
  node.kind = kind;
  if (kind == EntryKind::kFile) node.data->bytes.assign(content.begin(), content.end());
  node.data->folder = kind == EntryKind::kFolder;
  if (reuse_number) node.data->id = number;
  Put(path, std::move(node));
}

void FakeFileSystem::MoveEntry(TextView from, TextView to) {
  std::lock_guard lock(mutex_);
  std::vector<std::pair<Text, Node>> moved;
  for (auto it = nodes_.begin(); it != nodes_.end();) {
    if (it->first == from || IsInside(it->first, from)) {
      moved.emplace_back(Text(to) + it->first.substr(from.size()), std::move(it->second));
      it = nodes_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& [path, node] : moved) nodes_.insert_or_assign(std::move(path), std::move(node));
}

void FakeFileSystem::UseChangeTimeIdentities(bool change_time) {
  std::lock_guard lock(mutex_);
  change_time_identities_ = change_time;
}

void FakeFileSystem::SetNamelessFillFiles(bool nameless) {
  std::lock_guard lock(mutex_);
  nameless_fill_files_ = nameless;
}

// The fill folder as a handle sees it: found by its object, wherever it has been moved; files
// made through it land in that object, never in whatever now has its old name.
class FakeFileSystem::FakeFillFolder final : public platform::FillFolder {
 public:
  FakeFillFolder(FakeFileSystem& fs, std::shared_ptr<Data> folder, Text path, Text chosen)
      : fs_(fs), folder_(std::move(folder)), path_(std::move(path)), chosen_(std::move(chosen)) {}

  const Text& Path() const override { return path_; }
  const Text& ChosenPath() const override { return chosen_; }

  IoResult MakeFile(TextView name, platform::Caching caching,
                    std::unique_ptr<platform::OpenFile>& file, bool& named) override {
    file.reset();
    named = false;
    const Text shown = path_ + kSeparator + Text(name);
    std::size_t index = 0;
    if (const std::uint32_t injected = fs_.Begin(FsOp::kCreateNewFile, shown, {}, 0, index)) {
      return fs_.Finish(index, IoResult::Fail(injected));
    }
    std::lock_guard lock(fs_.mutex_);
    fs_.last_created_unbuffered_ = caching == platform::Caching::kUnbuffered;
    IoResult result = IoResult::Ok();
    const Text* where = CurrentPathLocked();
    Node node;
    node.kind = EntryKind::kFile;
    node.data->created_new = true;
    if (!where) {
      result = IoResult::Fail(FakeError::kNotFound);
    } else if (fs_.nameless_fill_files_) {
      fs_.nameless_files_.push_back(node.data);
      file = std::make_unique<FakeOpenFile>(fs_, node.data, shown, true);
    } else {
      const Text at = *where + kSeparator + Text(name);
      if (fs_.Find(at)) {
        result = IoResult::Fail(FakeError::kExists);
      } else {
        auto data = node.data;
        fs_.nodes_.emplace(at, std::move(node));
        file = std::make_unique<FakeOpenFile>(fs_, data, shown, true);
        named = true;
      }
    }
    fs_.calls_[index].error = result.error;
    return result;
  }

  IoResult RemoveFile(TextView name) override {
    const Text shown = path_ + kSeparator + Text(name);
    std::size_t index = 0;
    if (const std::uint32_t injected = fs_.Begin(FsOp::kDeleteFile, shown, {}, 0, index)) {
      return fs_.Finish(index, IoResult::Fail(injected));
    }
    std::lock_guard lock(fs_.mutex_);
    IoResult result = IoResult::Fail(FakeError::kNotFound);
    if (const Text* where = CurrentPathLocked()) {
      const auto it = fs_.nodes_.find(*where + kSeparator + Text(name));
      if (it != fs_.nodes_.end()) {
        fs_.nodes_.erase(it);
        result = IoResult::Ok();
      }
    }
    fs_.calls_[index].error = result.error;
    return result;
  }

  IoResult GetSpace(platform::VolumeSpace& space) override {
    return fs_.GetVolumeSpace(path_, space);
  }

  IoResult Remove() override {
    std::size_t index = 0;
    if (const std::uint32_t injected = fs_.Begin(FsOp::kRemoveFolder, path_, {}, 0, index)) {
      return fs_.Finish(index, IoResult::Fail(injected));
    }
    std::lock_guard lock(fs_.mutex_);
    IoResult result = IoResult::Ok();
    const auto it = fs_.nodes_.find(path_);
    if (it == fs_.nodes_.end()) {
      result = IoResult::Fail(FakeError::kNotFound);
    } else if (it->second.data != folder_) {
      result = IoResult::Fail(IoResult::kChangedEntry);
    } else {
      for (const auto& [other, node] : fs_.nodes_) {
        if (IsInside(other, path_)) result = IoResult::Fail(FakeError::kNotEmpty);
      }
      if (result) fs_.nodes_.erase(it);
    }
    fs_.calls_[index].error = result.error;
    return result;
  }

  IoResult ListChosen(
      const std::function<void(TextView name, platform::EntryKind kind)>& visit) override {
    return fs_.ListFolder(platform::EntryRef(chosen_),
                          [&](TextView name, const EntryInfo& info) { visit(name, info.kind); });
  }

 private:
  // Where the held folder stands now; null when it is gone.
  const Text* CurrentPathLocked() const {
    for (const auto& [path, node] : fs_.nodes_) {
      if (node.data == folder_) return &path;
    }
    return nullptr;
  }

  FakeFileSystem& fs_;
  std::shared_ptr<Data> folder_;
  Text path_;
  Text chosen_;
};

IoResult FakeFileSystem::MakeFillFolder(TextView chosen_text, TextView name,
                                        std::unique_ptr<platform::FillFolder>& folder) {
  folder.reset();
  std::size_t index = 0;
  if (const std::uint32_t injected = Begin(FsOp::kResolveFolder, chosen_text, {}, 0, index)) {
    return Finish(index, IoResult::Fail(injected));
  }
  Text chosen;
  {
    std::lock_guard lock(mutex_);
    const auto mapped = resolved_folders_.find(chosen_text);
    if (mapped != resolved_folders_.end()) {
      chosen = mapped->second;
    } else if (chosen_text.empty() || IsAbsolute(chosen_text)) {
      chosen = Text(chosen_text);
    } else {
      chosen = current_folder_ + kSeparator + Text(chosen_text);
    }
    const Node* node = Find(chosen);
    if (!IsRoot(chosen) && (!node || node->kind != EntryKind::kFolder)) {
      const IoResult result = IoResult::Fail(node ? FakeError::kNotFolder : FakeError::kNotFound);
      calls_[index].error = result.error;
      return result;
    }
  }
  Text path = chosen;
  if (path.empty() || path.back() != kSeparator) path.push_back(kSeparator);
  path += name;
  std::shared_ptr<Data> made;
  {
    const IoResult created = CreateFolder(path);
    if (!created) return created;
    std::lock_guard lock(mutex_);
    const Node* node = Find(path);
    if (!node) return IoResult::Fail(FakeError::kNotFound);
    made = node->data;
  }
  folder =
      std::make_unique<FakeFillFolder>(*this, std::move(made), std::move(path), std::move(chosen));
  return IoResult::Ok();
}

}  // namespace nulvane::testing
