#include "engine/wipe.h"

#include "engine/overwrite_pass.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "lang/language_table.h"
#include "platform/format.h"
#include "platform/system.h"

namespace nulvane::engine {

namespace {

using platform::EntryIdentity;
using platform::EntryInfo;
using platform::EntryKind;
using platform::EntryRef;
using platform::Format;
using platform::IoResult;
using platform::OpenedFileInfo;
using platform::OpenFile;

// Language-table ids of the texts this file shows.
using lang::TextId;

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
  tools.host.AddMessage(Format(lang::Txt(TextId::kReason), platform::SystemErrorText(result.error)),
                        MessageKind::kInfo);
}

// An item that stays behind under a random name is named, so that it can be found.
void AddLeftBehind(WipeTools& tools, TextView path, TextView now_named) {
  if (now_named == path) return;
  tools.host.AddMessage(Format(lang::Txt(TextId::kLeftBehind), path, now_named),
                        MessageKind::kInfo);
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
      AddRefusal(tools, tally, Format(lang::Txt(TextId::kChangedWhileOpening), path));
      return true;
    case IoResult::kOtherVolume:
      AddRefusal(tools, tally, Format(lang::Txt(TextId::kOtherVolume), path));
      return true;
    case IoResult::kHardLinked:
      // Its content also belongs to names the user did not choose.
      AddError(tools, tally, Format(lang::Txt(TextId::kHardLinks), path));
      return true;
    case IoResult::kPathTooLong:
    case IoResult::kInvalidName:
      AddError(tools, tally, FailureLine(path, result));
      return true;
    default:
      return false;
  }
}

// Closes a file whose overwrite failed and that stays where it is, with the attributes it had
// (a read-only file made writable for the overwrite is read-only again).
void CloseKept(OpenFile& file) {
  file.RestoreAttributes();
  file.Close();
}

// What one pass left of a file, for the next pass to compare with: its size and the sizes of
// its named streams.
struct PassSizes {
  std::uint64_t size = 0;
  std::map<Text, std::uint64_t> streams;
};

// Overwrites each named data stream of the open file or folder `owner` for one pass, as the
// unnamed one: opened relative to the owner, flushed, grown and shrunk as a file is, read back
// on `verify`. Stream bytes join the run's total as they are found. False (reported, naming
// "path:stream") when a stream cannot be listed, opened or overwritten: the item is kept.
bool OverwriteStreams(WipeTools& tools, OpenFile& owner, TextView path, bool verify,
                      PassSizes& sizes, RunTally& tally) {
  std::vector<platform::StreamInfo> streams;
  if (IoResult listed = owner.ListStreams(streams); !listed) {
    AddError(
        tools, tally,
        Format(lang::Txt(TextId::kStreamsUnlisted), path, platform::SystemErrorText(listed.error)));
    return false;
  }
  for (const platform::StreamInfo& listed : streams) {
    Text shown(path);
    shown += u':';
    shown += listed.name;
    std::unique_ptr<OpenFile> stream;
    OpenedFileInfo info;
    if (IoResult opened = owner.OpenStream(listed.name, stream, info); !opened) {
      AddError(tools, tally, FailureLine(shown, opened));
      return false;
    }
    tally.total_bytes += info.size;
    std::uint64_t& before = sizes.streams[listed.name];
    std::uint64_t covered = 0;
    if (!OverwriteObject(tools, *stream, shown, info.may_have_holes, info.size, before, verify,
                         tally, covered)) {
      stream->Close();
      return false;
    }
    before = covered;
    if (IoResult closed = stream->Close(); !closed) {
      AddError(tools, tally, FailureLine(shown, closed));
      return false;
    }
  }
  return true;
}

// Overwrites and removes the owner's extended attribute values of the open file or folder
// before it is renamed. A value that cannot be overwritten is a warning that names it: old
// copies of it may survive. The item still goes.
void OverwriteAttributes(WipeTools& tools, OpenFile& file, TextView path) {
  std::vector<OpenFile::UnreachedAttribute> unreached;
  if (IoResult listed = file.OverwriteExtendedAttributes(unreached); !listed) {
    tools.host.AddMessage(Format(lang::Txt(TextId::kAttributesUnlisted), path,
                                 platform::SystemErrorText(listed.error)),
                          MessageKind::kWarning);
  }
  for (const OpenFile::UnreachedAttribute& attribute : unreached) {
    tools.host.AddMessage(Format(lang::Txt(TextId::kAttributeSurvives), path, attribute.name,
                                 platform::SystemErrorText(attribute.reason.error)),
                          MessageKind::kWarning);
  }
}

// One overwrite pass over the regular file `entry`, which must be the object `entry.identity`
// names. Returns false when the item must end here (the failure is already reported); the file
// is then left where it is. On success `after` is the file's identity after the pass's stamp.
// `sizes` carries what the previous pass left and receives what this one leaves.
bool OverwritePass(WipeTools& tools, const EntryRef& entry, bool first_pass, bool last_pass,
                   PassSizes& sizes, RunTally& tally, EntryIdentity& after) {
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
    CloseKept(*file);
    AddError(tools, tally, Format(lang::Txt(TextId::kHardLinks), path));
    return false;
  }
  if (first_pass && info.stored_elsewhere) {
    tools.host.AddMessage(Format(lang::Txt(TextId::kStoredElsewhere), path), MessageKind::kWarning);
  }
  if (first_pass && !info.layered_file_system.empty()) {
    tools.host.AddMessage(Format(lang::Txt(TextId::kLayered), path, info.layered_file_system),
                          MessageKind::kWarning);
  }
  const bool verify = last_pass && tools.verify;
  if (!OverwriteObject(tools, *file, path, info.may_have_holes, info.size,
                       first_pass ? 0 : sizes.size, verify, tally, sizes.size) ||
      !OverwriteStreams(tools, *file, path, verify, sizes, tally)) {
    CloseKept(*file);
    return false;
  }
  if (last_pass) OverwriteAttributes(tools, *file, path);
  // A date that cannot be set does not keep the item alive. The stamp may change what the
  // identity is made of (a change time): the next step is checked against it as it is now.
  StampFixedFileTime(*file, after);
  if (!after.known) after = entry.identity;
  const IoResult result = file->Close();
  if (!result) {
    AddError(tools, tally, FailureLine(path, result));
    return false;
  }
  return true;
}

void WipeFile(WipeTools& tools, const EntryRef& listed, int pass_count, RunTally& tally) {
  EntryIdentity current = listed.identity;
  PassSizes sizes;
  for (int pass = 1; pass <= pass_count; ++pass) {
    EntryIdentity after;
    if (!OverwritePass(tools, listed.Renamed(listed.path, current), pass == 1, pass == pass_count,
                       sizes, tally, after)) {
      return;
    }
    current = after;
  }
  const Text final_name = RenameRandomly(tools.fs, listed.Renamed(listed.path, current), current);
  const IoResult removed = tools.fs.DeleteFile(listed.Renamed(final_name, current));
  if (!removed) {
    if (!ReportRefusal(tools, listed.path, removed, tally)) {
      AddError(tools, tally, FailureLine(listed.path, removed));
    }
    AddLeftBehind(tools, listed.path, final_name);
  }
}

void WipeFolder(WipeTools& tools, const EntryRef& listed, int pass_count, RunTally& tally) {
  const TextView path = listed.path;
  EntryIdentity current = listed.identity;
  PassSizes sizes;
  for (int pass = 1; pass <= pass_count; ++pass) {
    std::unique_ptr<OpenFile> folder;
    const IoResult opened = tools.fs.OpenFolderForStamp(listed.Renamed(path, current), folder);
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
    // A folder's named streams hold data as a file's do; its attribute values too.
    if (!OverwriteStreams(tools, *folder, path, pass == pass_count && tools.verify, sizes, tally)) {
      folder->Close();
      return;
    }
    if (pass == pass_count) OverwriteAttributes(tools, *folder, path);
    // Stamped and closed before the renames, so that the date is in place when they start
    // and no handle of ours stands in the way of the removal.
    EntryIdentity after;
    StampFixedFileTime(*folder, after);
    if (after.known) current = after;
    folder->Close();
    if (pass == pass_count) {
      const Text final_name = RenameRandomly(tools.fs, listed.Renamed(path, current), current);
      const IoResult removed = tools.fs.RemoveFolder(listed.Renamed(final_name, current));
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
void WipeLink(WipeTools& tools, const EntryRef& listed, const EntryInfo& info, RunTally& tally) {
  EntryIdentity current = listed.identity;
  const Text final_name = RenameRandomly(tools.fs, listed, current);
  const EntryRef renamed = listed.Renamed(final_name, current);
  const IoResult removed =
      info.link_to_folder ? tools.fs.RemoveFolder(renamed) : tools.fs.DeleteFile(renamed);
  if (!removed) {
    if (!ReportRefusal(tools, listed.path, removed, tally)) {
      AddError(tools, tally, FailureLine(listed.path, removed));
    }
    AddLeftBehind(tools, listed.path, final_name);
  }
}

}  // namespace

void WipeItem(WipeTools& tools, const EntryRef& listed, int pass_count, RunTally& tally) {
  const TextView path = listed.path;
  if (!listed.identity.known) {
    // Whatever stands there now was never looked at by the list: it may be anything put in
    // place of what could not be examined. No look taken now could stand in for that one.
    AddRefusal(tools, tally, Format(lang::Txt(TextId::kNotExamined), path));
    return;
  }
  EntryInfo info;
  const IoResult inspected = tools.fs.Inspect(listed, info);
  if (platform::IsNotFound(inspected) || (inspected && info.kind == EntryKind::kMissing)) {
    // What the user wanted gone is gone: a warning, not an error.
    tools.host.AddMessage(Format(lang::Txt(TextId::kGone), path), MessageKind::kWarning);
    return;
  }
  if (!inspected) {
    if (!ReportRefusal(tools, path, inspected, tally)) {
      AddError(tools, tally, FailureLine(path, inspected));
    }
    return;
  }
  if (info.other_volume) {
    // A mount point inside the tree: neither it nor anything behind it is the user's choice.
    AddRefusal(tools, tally, Format(lang::Txt(TextId::kOtherVolume), path));
    return;
  }
  if (!listed.identity.Matches(info.identity)) {
    AddRefusal(tools, tally, Format(lang::Txt(TextId::kChangedWhileOpening), path));
    return;
  }
  // From here on every step is checked against the listed object, and after each step of ours
  // that may change its identity, against the identity that step handed back.
  switch (info.kind) {
    case EntryKind::kFile:
      WipeFile(tools, listed, pass_count, tally);
      break;
    case EntryKind::kLink:
      WipeLink(tools, listed, info, tally);
      break;
    case EntryKind::kOther:
      AddError(tools, tally, Format(lang::Txt(TextId::kNotRegularFile), path));
      break;
    case EntryKind::kFolder:
    case EntryKind::kMissing:
      WipeFolder(tools, listed, pass_count, tally);
      break;
  }
}

namespace {

// Random bytes for names, drawn from the system a buffer at a time.
class RandomBytes {
 public:
  unsigned char Next() {
    if (next_ == buffer_.size()) Refill();
    return buffer_[next_++];
  }

 private:
  void Refill() {
    next_ = 0;
    if (platform::SystemRandomBytes(buffer_.data(), buffer_.size())) return;
    // The system gave nothing (it practically never fails): the names must still differ from
    // the listed one, so the buffer is filled from a mix of the clock, a counter and the
    // buffer's address. Weaker than the system's source, but no fixed sequence.
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t state =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (counter.fetch_add(1) << 32) ^ reinterpret_cast<std::uintptr_t>(this);
    for (unsigned char& byte : buffer_) {
      state += 0x9E3779B97F4A7C15u;
      std::uint64_t z = state;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
      byte = static_cast<unsigned char>(z ^ (z >> 31));
    }
  }

  std::array<unsigned char, 256> buffer_{};
  std::size_t next_ = buffer_.size();
};

thread_local RandomBytes random_bytes;

}  // namespace

char16_t RandomNameCharacter() {
  static constexpr char16_t kAlphabet[] = u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  constexpr unsigned kChoices = 7;
  // Bytes from 252 up are drawn again: 252 is the largest multiple of 7 below 256, so each of
  // the seven characters stays equally likely.
  constexpr unsigned kUsable = 256 / kChoices * kChoices;
  for (;;) {
    const unsigned byte = random_bytes.Next();
    if (byte < kUsable) return kAlphabet[byte % kChoices];
  }
}

Text MakeRandomName(TextView source) {
  Text result(source);
  std::size_t start = 0;
  for (std::size_t i = result.size(); i-- > 0;) {
    if (platform::IsPathSeparator(result[i])) {
      start = i + 1;
      break;
    }
  }
  for (std::size_t i = start; i < result.size(); ++i) {
    if (result[i] != u'.') result[i] = RandomNameCharacter();
  }
  return result;
}

Text RenameRandomly(platform::FileSystem& fs, const EntryRef& entry, EntryIdentity& identity) {
  Text current(entry.path);
  identity = entry.identity;
  for (int attempt = 0; attempt < kRenameCount; ++attempt) {
    // Built from the listed path: same folder, same length, dots where it has them.
    Text candidate = MakeRandomName(entry.path);
    EntryIdentity after;
    if (fs.RenameNoReplace(entry.Renamed(current, identity), candidate, after)) {
      current = std::move(candidate);
      if (after.known) identity = after;
    }
  }
  return current;
}

bool StampFixedFileTime(platform::OpenFile& file, EntryIdentity& after) {
  platform::FileTime time = 0;
  bool stamped = platform::LocalTimeToFileTime(1981, 1, 1, 0, 0, 0, time) && file.SetTimes(time);
  if (!file.Identity(after)) after = EntryIdentity{};
  return stamped;
}

}  // namespace nulvane::engine
