#include "engine/free_space_fill.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "engine/wipe.h"
#include "lang/language_table.h"
#include "platform/format.h"

namespace nulvane::engine {

namespace {

using platform::Format;
using platform::IoResult;

using lang::GeneralTextId;
using lang::TextId;

constexpr int kCreateAttempts = 8;
// Clean-up is retried: a virus scanner or indexer often holds a fresh file for a moment.
constexpr int kCleanupAttempts = 5;
constexpr std::uint32_t kCleanupPauseMs = 100;
// The least buffer alignment; a larger sector is aligned to itself.
constexpr std::size_t kBufferAlignment = 4096;

Text FailureLine(TextView path, IoResult result) {
  Text line(path);
  line += u": ";
  line += platform::SystemErrorText(result.error);
  return line;
}

void AddError(const RunContext& context, FillState& state, TextView line) {
  context.host.AddMessage(line, MessageKind::kError);
  ++state.error_count;
}

bool StopRequested(const RunContext& context) {
  return context.flags.stop.load() != 0 || context.flags.fill_running.load() == 0;
}

// Runs `remove` until it succeeds or the attempts are used up; returns the last outcome.
template <typename Remove>
IoResult RemoveWithRetries(const RunContext& context, Remove remove) {
  IoResult result = remove();
  for (int attempt = 1; !result && attempt < kCleanupAttempts; ++attempt) {
    context.clock.SleepMs(kCleanupPauseMs);
    result = remove();
  }
  return result;
}

// A zero-filled buffer of `size` bytes whose start is aligned to `alignment` (a power of two),
// as unbuffered writes of that block demand.
class AlignedZeros {
 public:
  AlignedZeros(std::size_t size, std::size_t alignment) : storage_(size + alignment, 0) {
    void* start = storage_.data();
    std::size_t space = storage_.size();
    data_ = static_cast<unsigned char*>(std::align(alignment, size, start, space));
  }
  const unsigned char* data() const { return data_; }

 private:
  std::vector<unsigned char> storage_;
  unsigned char* data_ = nullptr;
};

// How one file's writing ended.
enum class FileEnd { kVolumeFull, kFileFull, kOther };

// Writes zeros into `file` until the volume refuses a one-sector write for lack of space, the
// file cannot grow, a write fails, a stop is requested, or more than `limit` bytes have been
// written in all. On a full volume the block is halved down to one sector before the volume
// counts as full. The measured target plays no part: the free space the system reported may
// be less than what the caller can really write (root's reserved blocks, a quota that grew,
// space freed meanwhile).
FileEnd WriteUntilFull(const RunContext& context, ProgressDisplay& progress, FillState& state,
                       platform::OpenFile& file, TextView name, std::uint32_t sector_size,
                       std::uint64_t limit) {
  const std::uint32_t sector = sector_size == 0 ? 512 : sector_size;
  const std::uint32_t full_block = FillBlockSize(sector);
  // Sized and aligned for the block really written, sectors above 64000 bytes included.
  const AlignedZeros zeros(full_block, std::max<std::size_t>(kBufferAlignment, sector));
  std::uint32_t block = full_block;
  for (;;) {
    if (StopRequested(context)) {
      state.stopped = true;
      return FileEnd::kOther;
    }
    if (state.written_bytes > limit) {
      state.never_full = true;
      return FileEnd::kOther;
    }
    // Whole blocks go to the system several at a time while none has been refused: the same
    // blocks in a sixteenth of the requests, which is what lets unbuffered writes keep up with
    // the device. A stop request is seen between requests (about a megabyte apart).
    const std::size_t count = block == full_block ? kFillBlocksPerRequest : 1;
    std::size_t written = 0;
    const IoResult result = file.WriteRepeated(zeros.data(), block, count, written);
    if (written > count * block) written = count * block;
    state.written_bytes += written;
    progress.Report(state.written_bytes, state.target_bytes);
    if (result) {
      if (written == 0) {
        state.volume_full = true;  // the system takes nothing more without saying why
        return FileEnd::kVolumeFull;
      }
      continue;
    }
    if (result.error == IoResult::kFileTooLarge) return FileEnd::kFileFull;
    if (result.error != IoResult::kDiskFull) {
      AddError(context, state, FailureLine(name, result));
      return FileEnd::kOther;
    }
    if (block <= sector) {
      state.volume_full = true;
      return FileEnd::kVolumeFull;
    }
    block = block / 2 / sector * sector;
    if (block < sector) block = sector;
  }
}

void ReportEnd(const RunContext& context, const FillState& state, bool measured) {
  RunHost& host = context.host;
  if (measured) {
    // Free space of 0 bytes: nothing to cover, nothing covered.
    const double percent = state.target_bytes == 0
                               ? 0.0
                               : static_cast<double>(state.written_bytes) /
                                     static_cast<double>(state.target_bytes) * 100;
    AddMessage(host, Format(u"%.2lf %%", percent), MessageKind::kInfo);
  }
  if (state.never_full) AddMessage(host, lang::Txt(TextId::kNeverFull), MessageKind::kWarning);
  if (state.stopped) AddMessage(host, lang::Txt(TextId::kFillStopped), MessageKind::kWarning);
  AddMessage(host, lang::Txt(TextId::kReady), MessageKind::kInfo);
  host.SetProgressText(lang::Txt(TextId::kInstructions));
  host.SetTitle(Format(u"%s", lang::GetGeneralText(GeneralTextId::kTitle)));
  RunEnd end;
  end.error_count = state.error_count;
  end.stopped = state.stopped;
  end.after_run = DueAfterRun(context.flags.after_run.exchange(AfterRun::kNone), state.stopped,
                              state.error_count);
  host.RunEnded(end);
  SetCommandsEnabled(host, true);
}

}  // namespace

std::uint64_t GetDriveFreeBytes(platform::FileSystem& fs, TextView path, std::uint64_t* total,
                                std::uint32_t* sector_size) {
  platform::VolumeSpace space;
  if (!fs.GetVolumeSpace(path, space)) return kUnknownFreeBytes;
  if (total) *total = space.total_bytes;
  if (sector_size) *sector_size = space.sector_size;
  return space.free_bytes;
}

std::uint32_t FillBlockSize(std::uint32_t sector_size) {
  if (sector_size == 0) sector_size = 512;
  if (sector_size >= kMaxFillBlock) return sector_size;
  return kMaxFillBlock / sector_size * sector_size;
}

Text FillFolderName(std::uint32_t tick) {
  Text name;
  // The folder name is plain ASCII on every system: an "ö" in the program name becomes "oe".
  for (char16_t c : TextView(kFillProgramName)) {
    if (c == u'\u00F6') {
      name += u"oe";
    } else {
      name.push_back(c);
    }
  }
  name += Format(u"%08X", static_cast<unsigned>(tick));
  return name;
}

Text FillFolderPath(TextView chosen, std::uint32_t tick) {
  Text folder(chosen);
  if (folder.empty() || !platform::IsPathSeparator(folder.back()))
    folder.push_back(platform::kPathSeparator);
  folder += FillFolderName(tick);
  return folder;
}

Text FillFilePath(const platform::FillFolder& folder, TextView name) {
  Text path = folder.Path();
  path.push_back(platform::kPathSeparator);
  path += name;
  return path;
}

void FillFreeSpace(const RunContext& context, ProgressDisplay& progress, FillState& state,
                   platform::FillFolder& folder) {
  platform::VolumeSpace space;
  if (!folder.GetSpace(space) || space.free_bytes < 1024) return;
  const std::uint32_t sector_size = space.sector_size;
  // No volume takes more zeros than its own size, unless it does not store them as written.
  const std::uint64_t limit =
      std::max(space.total_bytes,
               state.target_bytes == kUnknownFreeBytes ? 0 : state.target_bytes) +
      kFillOverrunAllowance;

  struct Made {
    Text name;
    bool named = false;
    std::unique_ptr<platform::OpenFile> file;  // kept open until the fill has written
  };
  std::vector<Made> made;
  for (;;) {
    std::unique_ptr<platform::OpenFile> file;
    Text name;
    bool named = false;
    IoResult created;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
      name = Text(kFillFilePrefix) + MakeRandomName(u"DATEIDATEIDATEI") + u".xxx";
      // Unbuffered: the blocks go to the volume as they are written, at the device's own
      // speed, without filling the system's cache. Every block is whole sectors from an
      // aligned buffer.
      created = folder.MakeFile(name, platform::Caching::kUnbuffered, file, named);
      if (created) break;
    }
    const Text shown = FillFilePath(folder, name);
    if (!created) {
      AddError(context, state, Text(u"Error-File:") + shown);
      break;
    }
    ++state.file_count;
    // Files after the first are named once they have taken something.
    const bool first = state.file_count == 1;
    if (first) AddMessage(context.host, Text(u"File:") + shown, MessageKind::kInfo);

    const std::uint64_t before = state.written_bytes;
    const FileEnd end = WriteUntilFull(context, progress, state, *file, shown, sector_size, limit);
    const bool took_some = state.written_bytes > before;
    if (!first && took_some) AddMessage(context.host, Text(u"File:") + shown, MessageKind::kInfo);
    // A volume that is full may refuse the flush for the same reason; that is the goal reached.
    if (took_some) {
      const IoResult flushed = file->Flush();
      if (!flushed && flushed.error != IoResult::kDiskFull)
        AddError(context, state, FailureLine(shown, flushed));
    }
    // A nameless file gives its space back when it is closed: it stays open until the fill has
    // written everything, or the next file would only take that space again. A named file
    // keeps its space by its name and is closed now (a fill on FAT may need many of them).
    if (named) {
      const IoResult closed = file->Close();
      if (!closed) AddError(context, state, FailureLine(shown, closed));
      file.reset();
    }
    made.push_back({name, named, std::move(file)});
    // A full volume is tried once more with a fresh file: a file that grew through many
    // extents may need a block of its own for the next one (ext4's extent tree), while a new
    // file keeps its first extent in its inode and takes the last free blocks. The fill ends
    // when a fresh file cannot take one sector.
    if (end == FileEnd::kVolumeFull && took_some) continue;
    if (end != FileEnd::kFileFull) break;
    if (state.file_count >= kMaxFillFiles) {
      AddError(context, state, FailureLine(shown, IoResult::Fail(IoResult::kFileTooLarge)));
      break;
    }
  }
  progress.Report(state.written_bytes, state.target_bytes);
  // The newest first: the space stays taken until the last (and largest) file goes.
  for (auto it = made.rbegin(); it != made.rend(); ++it) {
    const Text shown = FillFilePath(folder, it->name);
    if (it->file) {
      const IoResult closed = it->file->Close();
      if (!closed) AddError(context, state, FailureLine(shown, closed));
    }
    if (!it->named) continue;
    const IoResult removed =
        RemoveWithRetries(context, [&] { return folder.RemoveFile(it->name); });
    if (!removed) AddError(context, state, FailureLine(shown, removed));
  }
}

namespace {

// Why the chosen path is no folder to fill, as a line; empty when it is a real folder.
Text RefusalOfChosen(platform::FileSystem& fs, TextView chosen) {
  platform::EntryInfo info;
  // A root, a missing path or one the look-up cannot name by itself is left to the folder's
  // own open, which says what keeps it from being filled.
  if (!fs.FindEntry(chosen, info)) return {};
  switch (info.kind) {
    case platform::EntryKind::kFolder:
      return {};
    case platform::EntryKind::kFile:
      return Format(lang::Txt(TextId::kFillOnFile), chosen);
    case platform::EntryKind::kLink:
      return Format(lang::Txt(TextId::kFillOnLink), chosen);
    default:
      return Format(lang::Txt(TextId::kFillOnOther), chosen);
  }
}

// Whether `name` is a fill folder's name: the program name and eight hexadecimal digits.
bool IsFillFolderName(TextView name) {
  const Text stem = FillFolderName(0).substr(0, FillFolderName(0).size() - 8);
  if (name.size() != stem.size() + 8 || name.substr(0, stem.size()) != stem) return false;
  for (char16_t c : name.substr(stem.size())) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
  }
  return true;
}

// Names the fill folders a killed fill left in the chosen folder. They are not removed: the
// name alone does not make a folder ours to remove.
void NameLeftovers(const RunContext& context, platform::FillFolder& folder) {
  const TextView own =
      TextView(folder.Path()).substr(folder.Path().size() - FillFolderName(0).size());
  std::vector<Text> found;
  folder.ListChosen([&](TextView name, platform::EntryKind kind) {
    if (kind == platform::EntryKind::kFolder && name != own && IsFillFolderName(name)) {
      found.emplace_back(name);
    }
  });
  std::sort(found.begin(), found.end());
  for (const Text& name : found) {
    Text path = folder.ChosenPath();
    if (path.empty() || !platform::IsPathSeparator(path.back()))
      path.push_back(platform::kPathSeparator);
    path += name;
    AddMessage(context.host, Format(lang::Txt(TextId::kLeftoverFillFolder), path),
               MessageKind::kInfo);
  }
}

}  // namespace

FillResult RunFreeSpaceFill(const RunContext& context) {
  RunHost& host = context.host;
  RunFlags& flags = context.flags;
  platform::FileSystem& fs = context.fs;
  FillResult result;
  const Text& chosen = context.fill_folder;
  if (chosen.empty()) return result;
  result.chosen = true;
  FillState& state = result.state;

  // A file or a link is no folder to fill; a link's target is a folder the user did not name.
  if (const Text refusal = RefusalOfChosen(fs, chosen); !refusal.empty()) {
    AddError(context, state, refusal);
    ReportEnd(context, state, false);
    return result;
  }
  // The folder the system reaches, held open; the fill folder is made and held through it.
  std::unique_ptr<platform::FillFolder> folder;
  IoResult made;
  const std::uint32_t tick = context.clock.NowMs();
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    made = fs.MakeFillFolder(chosen, FillFolderName(tick + static_cast<std::uint32_t>(attempt)),
                             folder);
    if (made || !platform::IsAlreadyExists(made)) break;
  }
  if (!made) {
    const bool chosen_missing = platform::IsNotFound(made);
    AddError(context, state,
             FailureLine(chosen_missing ? chosen : FillFolderPath(chosen, tick), made));
    ReportEnd(context, state, false);
    return result;
  }
  const Text& path = folder->Path();
  NameLeftovers(context, *folder);

  ProgressDisplay progress(host, context.clock);
  progress.Start();
  platform::VolumeSpace space;
  const bool measured = folder->GetSpace(space).ok();
  state.target_bytes = measured ? space.free_bytes : kUnknownFreeBytes;
  if (!measured) {
    // Without a target the fill could not tell when it is done: no fill at all.
    AddError(context, state, Format(lang::Txt(TextId::kFreeSpaceUnreadable), path));
  } else {
    AddMessage(host, Format(u"%I64u Byte", state.target_bytes), MessageKind::kInfo);
    flags.stop.store(0);
    flags.fill_running.store(1);
    SetCommandsEnabled(host, false);
    FillFreeSpace(context, progress, state, *folder);
    flags.fill_running.store(0);
  }
  const IoResult removed = RemoveWithRetries(context, [&] { return folder->Remove(); });
  if (removed.error == IoResult::kChangedEntry) {
    // Someone put something else under the folder's name: theirs, left as it is.
    AddMessage(host, Format(lang::Txt(TextId::kFillFolderReplaced), path), MessageKind::kWarning);
    ++state.error_count;
  } else if (!removed) {
    AddError(context, state, FailureLine(path, removed));
  }
  if (measured && space.held_back_bytes > 0) {
    const std::uint64_t megabytes = (space.held_back_bytes + (1u << 20) - 1) >> 20;
    AddMessage(host, Format(lang::Txt(TextId::kHeldBack), megabytes), MessageKind::kInfo);
  }
  flags.stop.store(1);
  ReportEnd(context, state, measured);
  return result;
}

}  // namespace nulvane::engine
