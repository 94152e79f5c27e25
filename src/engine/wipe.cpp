#include "engine/wipe.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "lang/language_table.h"
#include "platform/format.h"

namespace nulvane::engine {

namespace {

using platform::EntryInfo;
using platform::EntryKind;
using platform::EntryRef;
using platform::Format;
using platform::IoResult;
using platform::OpenedFileInfo;
using platform::OpenFile;

// Language-table ids of the texts this file shows.
constexpr int kHardLinksText = 100;
constexpr int kStoredElsewhereText = 101;
constexpr int kPathTooLongText = 102;
constexpr int kNotRegularFileText = 103;
constexpr int kChangedWhileOpeningText = 106;
constexpr int kOtherVolumeText = 107;
constexpr int kKeptGrowingText = 150;
constexpr int kNowStandsText = 151;
constexpr int kReasonText = 152;
constexpr int kNotZeroText = 153;
constexpr int kCannotReadBackText = 154;

thread_local std::uint32_t random_state = 1;

bool IsPathSeparator(char16_t c) {
#ifdef _WIN32
  // Windows accepts both; treating "/" as part of a name would move the item to another folder.
  return c == u'\\' || c == u'/';
#else
  return c == platform::kPathSeparator;
#endif
}

void AddError(WipeTools& tools, RunTally& tally, TextView line) {
  tools.host.AddMessage(line, MessageKind::kError);
  ++tally.error_count;
}

// "<path>: <system error text>", or the program's own text for the errors it names itself.
Text FailureLine(TextView path, IoResult result) {
  if (result.error == IoResult::kPathTooLong) return Format(lang::Txt(kPathTooLongText), path);
  if (result.error == IoResult::kNotRegularFile)
    return Format(lang::Txt(kNotRegularFileText), path);
  Text line(path);
  line += u": ";
  line += platform::SystemErrorText(result.error);
  return line;
}

// The line of a folder that could not be opened or removed: "0 <dir>" and its listed path.
Text FolderLine(TextView path) {
  Text line = Format(u"%d <dir>", 0);
  line += path;
  return line;
}

// The lines whose shape is fixed (a bare path, "0 <dir>" and a path) are followed by the
// system's reason on an information line of its own, when the system gave one.
void AddReason(WipeTools& tools, IoResult result) {
  if (result.ok() || result.error == IoResult::kGenericFailure) return;
  tools.host.AddMessage(Format(lang::Txt(kReasonText), platform::SystemErrorText(result.error)),
                        MessageKind::kInfo);
}

// An item that stays behind under a random name is named, so that it can be found.
void AddLeftBehind(WipeTools& tools, TextView path, TextView now_named) {
  if (now_named == path) return;
  tools.host.AddMessage(Format(lang::Txt(kNowStandsText), path, now_named), MessageKind::kInfo);
}

// Writes zero bytes from `offset` (the file's current position) up to `size`: whole blocks of
// kWriteBlock bytes at multiples of kWriteBlock, handed to the system up to kBlocksPerRequest
// at a time, then the remainder as the last block, so the file keeps its length. A short write
// goes on with the rest; only what the system accepted counts as written. Returns the first
// failure (a write that accepted nothing counts as one).
IoResult WriteZeros(WipeTools& tools, OpenFile& file, std::uint64_t offset, std::uint64_t size,
                    RunTally& tally) {
  const unsigned char* zeros = tools.zero_buffer.data();
  while (offset < size) {
    const std::uint64_t remaining = size - offset;
    std::size_t written = 0;
    IoResult result;
    const auto into_block = static_cast<std::size_t>(offset % kWriteBlock);
    if (into_block == 0 && remaining >= kWriteBlock) {
      const auto count = static_cast<std::size_t>(
          std::min<std::uint64_t>(remaining / kWriteBlock, kBlocksPerRequest));
      result = file.WriteRepeated(zeros, kWriteBlock, count, written);
      written = std::min(written, count * kWriteBlock);
    } else {
      // The rest of a block a short write left, or the file's last, shorter block.
      const auto rest =
          static_cast<std::size_t>(std::min<std::uint64_t>(kWriteBlock - into_block, remaining));
      result = file.Write(zeros, rest, written);
      written = std::min(written, rest);
    }
    offset += written;
    tally.written_bytes += written;
    tools.progress.Report(tally.written_bytes, tally.total_bytes);
    if (!result) return result;
    if (written == 0) return IoResult::Fail(IoResult::kGenericFailure);
  }
  return IoResult::Ok();
}

// A warning line that counts as an error: the entry was left untouched for a reason the user
// must see, and the run did not do all it was asked.
void AddRefusal(WipeTools& tools, RunTally& tally, TextView line) {
  tools.host.AddMessage(line, MessageKind::kWarning);
  ++tally.error_count;
  ++tally.refused_count;
}

// Reports an entry the file system refused before anything about it changed. True when the
// refusal was one of those (the item ends here); false for any other failure.
bool ReportRefusal(WipeTools& tools, TextView path, IoResult result, RunTally& tally) {
  switch (result.error) {
    case IoResult::kChangedEntry:
    case IoResult::kNotRegularFile:
      // It was what was listed when the list was made: something replaced it since.
      AddRefusal(tools, tally, Format(lang::Txt(kChangedWhileOpeningText), path));
      return true;
    case IoResult::kOtherVolume:
      AddRefusal(tools, tally, Format(lang::Txt(kOtherVolumeText), path));
      return true;
    case IoResult::kHardLinked:
      // Its content also belongs to names the user did not choose.
      AddError(tools, tally, Format(lang::Txt(kHardLinksText), path));
      return true;
    case IoResult::kPathTooLong:
    case IoResult::kInvalidName:
      AddError(tools, tally, FailureLine(path, result));
      return true;
    default:
      return false;
  }
}

// After a pass has written and flushed `covered` bytes: what the file grew by meanwhile (another
// program appending to it) is overwritten and flushed too, until a look at the size finds no
// growth. A file still growing after kMaxGrowthRounds rounds is an error line (false). Growth
// joins the run's total, so that the percentage stays what was really written.
bool OverwriteGrowth(WipeTools& tools, OpenFile& file, TextView path, std::uint64_t covered,
                     RunTally& tally) {
  for (int round = 0;; ++round) {
    std::uint64_t size = 0;
    IoResult result = file.CurrentSize(size);
    if (!result) {
      AddError(tools, tally, FailureLine(path, result));
      return false;
    }
    if (size <= covered) return true;
    if (round == kMaxGrowthRounds) {
      AddError(tools, tally, Format(lang::Txt(kKeptGrowingText), path));
      return false;
    }
    tally.total_bytes += size - covered;
    result = WriteZeros(tools, file, covered, size, tally);
    if (result) result = file.Flush();
    if (!result) {
      AddError(tools, tally, FailureLine(path, result));
      return false;
    }
    covered = size;
  }
}

// The first byte of `data` that is not zero, or `size`.
std::size_t FirstNonZero(const unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    if (word != 0) break;
  }
  for (; i < size; ++i) {
    if (data[i] != 0) return i;
  }
  return size;
}

// Reads the whole file back past the system's cache; true when every byte is zero. A byte
// that is not, or a read-back that fails, is an error line (false): the file is kept.
bool VerifyZeros(WipeTools& tools, OpenFile& file, TextView path, RunTally& tally) {
  std::unique_ptr<platform::UncachedReader> reader;
  IoResult result = file.OpenUncachedReader(reader);
  std::uint64_t offset = 0;
  while (result) {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    result = reader->ReadNext(data, size);
    if (!result || size == 0) break;
    const std::size_t bad = FirstNonZero(data, size);
    if (bad < size) {
      AddError(tools, tally, Format(lang::Txt(kNotZeroText), path, offset + bad));
      return false;
    }
    offset += size;
  }
  if (!result) {
    AddError(tools, tally,
             Format(lang::Txt(kCannotReadBackText), path, platform::SystemErrorText(result.error)));
    return false;
  }
  return true;
}

// One overwrite pass over the regular file `entry`. Returns false when the item must end here
// (the failure is already reported); the file is then left where it is.
bool OverwritePass(WipeTools& tools, const EntryRef& entry, bool first_pass, bool last_pass,
                   RunTally& tally) {
  const TextView path = entry.path;
  std::unique_ptr<OpenFile> file;
  OpenedFileInfo info;
  // The open checks kind, identity and names before it makes a read-only file writable.
  const IoResult opened = tools.fs.OpenForOverwrite(entry, file, info);
  if (!opened) {
    if (!ReportRefusal(tools, path, opened, tally)) {
      AddError(tools, tally, path);
      AddReason(tools, opened);
    }
    return false;
  }
  if (info.link_count > 1) {
    file->Close();
    AddError(tools, tally, Format(lang::Txt(kHardLinksText), path));
    return false;
  }
  if (first_pass && info.stored_elsewhere) {
    tools.host.AddMessage(Format(lang::Txt(kStoredElsewhereText), path), MessageKind::kWarning);
  }
  IoResult result = WriteZeros(tools, *file, 0, info.size, tally);
  if (result) result = file->Flush();
  if (!result) {
    file->Close();
    AddError(tools, tally, FailureLine(path, result));
    return false;
  }
  if (!OverwriteGrowth(tools, *file, path, info.size, tally) ||
      (last_pass && tools.verify && !VerifyZeros(tools, *file, path, tally))) {
    file->Close();
    return false;
  }
  StampFixedFileTime(*file);  // a date that cannot be set does not keep the item alive
  result = file->Close();
  if (!result) {
    AddError(tools, tally, FailureLine(path, result));
    return false;
  }
  return true;
}

void WipeFile(WipeTools& tools, const EntryRef& entry, int pass_count, RunTally& tally) {
  for (int pass = 1; pass <= pass_count; ++pass) {
    if (!OverwritePass(tools, entry, pass == 1, pass == pass_count, tally)) return;
  }
  const Text final_name = RenameRandomly(tools.fs, entry);
  const IoResult removed =
      tools.fs.DeleteFile(EntryRef(final_name, entry.anchor_length, entry.identity));
  if (!removed) {
    if (!ReportRefusal(tools, entry.path, removed, tally)) {
      AddError(tools, tally, FailureLine(entry.path, removed));
    }
    AddLeftBehind(tools, entry.path, final_name);
  }
}

void WipeFolder(WipeTools& tools, const EntryRef& entry, int pass_count, RunTally& tally) {
  const TextView path = entry.path;
  for (int pass = 1; pass <= pass_count; ++pass) {
    std::unique_ptr<OpenFile> folder;
    const IoResult opened = tools.fs.OpenFolderForStamp(entry, folder);
    if (!opened) {
      if (opened.error == IoResult::kPathTooLong || opened.error == IoResult::kChangedEntry ||
          opened.error == IoResult::kOtherVolume || opened.error == IoResult::kInvalidName) {
        ReportRefusal(tools, path, opened, tally);
      } else {
        AddError(tools, tally, FolderLine(path));
        AddReason(tools, opened);
      }
      return;
    }
    // Stamped and closed before the renames, so that the date is in place when they start
    // and no handle of ours stands in the way of the removal.
    StampFixedFileTime(*folder);
    folder->Close();
    if (pass == pass_count) {
      const Text final_name = RenameRandomly(tools.fs, entry);
      const IoResult removed =
          tools.fs.RemoveFolder(EntryRef(final_name, entry.anchor_length, entry.identity));
      if (!removed) {
        if (!(removed.error == IoResult::kChangedEntry &&
              ReportRefusal(tools, path, removed, tally))) {
          AddError(tools, tally, FolderLine(path));
          AddReason(tools, removed);
        }
        AddLeftBehind(tools, path, final_name);
      }
    }
  }
}

// A link is never opened or followed: only the link itself is renamed and removed.
void WipeLink(WipeTools& tools, const EntryRef& entry, const EntryInfo& info, RunTally& tally) {
  const Text final_name = RenameRandomly(tools.fs, entry);
  const EntryRef renamed(final_name, entry.anchor_length, entry.identity);
  const IoResult removed =
      info.link_to_folder ? tools.fs.RemoveFolder(renamed) : tools.fs.DeleteFile(renamed);
  if (!removed) {
    if (!ReportRefusal(tools, entry.path, removed, tally)) {
      AddError(tools, tally, FailureLine(entry.path, removed));
    }
    AddLeftBehind(tools, entry.path, final_name);
  }
}

}  // namespace

void WipeItem(WipeTools& tools, const EntryRef& listed, int pass_count, RunTally& tally) {
  const TextView path = listed.path;
  EntryInfo info;
  const IoResult inspected = tools.fs.Inspect(listed, info);
  if (!inspected && ReportRefusal(tools, path, inspected, tally)) return;
  if (inspected) {
    if (info.other_volume) {
      // A mount point inside the tree: neither it nor anything behind it is the user's choice.
      AddRefusal(tools, tally, Format(lang::Txt(kOtherVolumeText), path));
      return;
    }
    if (!listed.identity.Admits(info.identity)) {
      AddRefusal(tools, tally, Format(lang::Txt(kChangedWhileOpeningText), path));
      return;
    }
  }
  // From here on every step is checked against the object found now (the listed one, where the
  // list knew it), so that no later call can reach another one put in its place.
  const EntryRef entry(path, listed.anchor_length,
                       info.identity.known ? info.identity : listed.identity);
  switch (info.kind) {
    case EntryKind::kFile:
      WipeFile(tools, entry, pass_count, tally);
      break;
    case EntryKind::kLink:
      WipeLink(tools, entry, info, tally);
      break;
    case EntryKind::kOther:
      AddError(tools, tally, Format(lang::Txt(kNotRegularFileText), path));
      break;
    case EntryKind::kFolder:
    case EntryKind::kMissing:
      // An entry whose kind cannot be read is handled as a folder: it is only ever stamped,
      // renamed and removed if empty, never written.
      WipeFolder(tools, entry, pass_count, tally);
      break;
  }
}

int NextRandom() {
  random_state = random_state * 214013u + 2531011u;
  return static_cast<int>((random_state >> 16) & 0x7FFF);
}

char16_t RandomNameCharacter() {
  static constexpr char16_t kAlphabet[] = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  return kAlphabet[NextRandom() % 7];
}

Text MakeRandomName(TextView source) {
  Text result(source);
  std::size_t start = 0;
  for (std::size_t i = result.size(); i-- > 0;) {
    if (IsPathSeparator(result[i])) {
      start = i + 1;
      break;
    }
  }
  for (std::size_t i = start; i < result.size(); ++i) {
    if (result[i] != u'.') result[i] = RandomNameCharacter();
  }
  return result;
}

Text RenameRandomly(platform::FileSystem& fs, const EntryRef& entry) {
  Text current(entry.path);
  for (int attempt = 0; attempt < kRenameCount; ++attempt) {
    // Built from the listed path: same folder, same length, dots where it has them.
    Text candidate = MakeRandomName(entry.path);
    if (fs.RenameNoReplace(EntryRef(current, entry.anchor_length, entry.identity), candidate)) {
      current = std::move(candidate);
    }
  }
  return current;
}

bool StampFixedFileTime(platform::OpenFile& file) {
  platform::FileTime time = 0;
  if (!platform::LocalTimeToFileTime(1981, 1, 1, 0, 0, 0, time)) return false;
  return file.SetTimes(time).ok();
}

}  // namespace nulvane::engine
