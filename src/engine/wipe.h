// Destroying one item: overwrite a file with zeros pass by pass, stamp a fixed old date, rename
// it seven times to random names and remove it. Also the random names the fill uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/display.h"
#include "engine/run_host.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::engine {

// Bytes per overwrite write; the last write of a pass is the file's remainder.
inline constexpr std::size_t kWriteBlock = 2048;
// Whole blocks handed to the system in one request (64 KiB): the same blocks at a fraction of
// the system calls. Progress is reported after each request.
inline constexpr std::size_t kBlocksPerRequest = 32;
// Renames before an item is removed.
inline constexpr int kRenameCount = 7;

// The counters of one run, shared by every item of it.
struct RunTally {
  std::uint64_t total_bytes = 0;    // the run's target: file sizes times the pass count
  std::uint64_t written_bytes = 0;  // bytes the system accepted, over all passes
  int error_count = 0;
  // Of the errors, the items left untouched because they were not what was listed (changed,
  // of unknown identity, on another volume).
  int refused_count = 0;
};

// What WipeItem works with: the file system, the host for message lines, the progress display
// and the run's zero buffer. All belong to the worker that runs the items.
struct WipeTools {
  platform::FileSystem& fs;
  RunHost& host;
  ProgressDisplay& progress;
  // All zero; writes take their bytes from its start. Zeroed by the run before the first item.
  const std::array<unsigned char, 3000>& zero_buffer;
  // Read every file back after its last pass, bypassing the cache; a file that is not all
  // zeros then is an error and is kept.
  bool verify = false;
};

// Rounds of overwriting what a file grew by during a pass, before it counts as still growing
// (an error: it is kept).
inline constexpr int kMaxGrowthRounds = 8;

// Destroys the item `entry` with `pass_count` passes (1..35). Every failure is a message line
// and adds 1 to the error count; a file whose overwrite did not fully succeed is neither renamed
// nor removed, and keeps its attributes. What a file grows by while a pass writes is
// overwritten in that pass; a file that keeps growing is kept. An item left behind under a
// random name gets a line that names it. A link is never opened: it is renamed and removed as a
// link. A file that has other hard links, an entry that is not the one listed (its identity
// differs), an entry whose identity the list never learnt and a mount point inside the tree are
// left untouched, with a line that names them; an entry that is gone is a warning line. Every
// call reaches the entry through the folder handles below its anchor (see platform::EntryRef)
// and is checked against the identity the previous step left.
void WipeItem(WipeTools& tools, const platform::EntryRef& entry, int pass_count, RunTally& tally);

// One random name character, "0" to "6" (the first seven of
// "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"), each equally likely. Drawn from the system's random
// source (platform::SystemRandomBytes) through a buffer of the calling thread, refilled with
// one system call for every few hundred characters: no name tells anything about the next one,
// so nobody can foresee or pre-create the names of a run or a fill.
char16_t RandomNameCharacter();

// `source` with every character of its final component (after the last path separator, or the
// whole text when there is none) except "." replaced by a random character: same length, same
// folder, dots in the same places. Touches nothing on disk.
Text MakeRandomName(TextView source);

// Renames `entry` seven times to random names of the same shape in its folder, never replacing
// an existing entry; a failed attempt is skipped. Returns the path the entry stands under now
// (`entry.path` itself when every attempt failed) and, in `identity`, its identity as the last
// rename handed it back (`entry.identity` when none did).
Text RenameRandomly(platform::FileSystem& fs, const platform::EntryRef& entry,
                    platform::EntryIdentity& identity);

// Writes 1981-01-01 00:00:00 local time into all three time stamps of `file`; true only if
// both the conversion and the write succeeded. `after` is the identity read from the handle
// afterwards (unknown when it cannot be read).
bool StampFixedFileTime(platform::OpenFile& file, platform::EntryIdentity& after);

}  // namespace nulvane::engine
