// The free-space fill: writes zeros into a temporary file in a temporary folder on the chosen
// folder's volume until the volume refuses even a one-sector write for lack of space, then
// removes both, so that the remains of files deleted the ordinary way are covered. The free
// space measured at the start is only the target of the percentage.
#pragma once

#include <cstdint>

#include "engine/deletion_run.h"
#include "engine/display.h"
#include "platform/file_system.h"

namespace nulvane::engine {

// GetDriveFreeBytes's answer when the free space cannot be read.
inline constexpr std::uint64_t kUnknownFreeBytes = ~std::uint64_t{0};
// The largest fill write; the real block is the largest multiple of the sector size not above.
inline constexpr std::uint32_t kMaxFillBlock = 64000;
// Whole fill blocks handed to the system in one request (POSIX: one writev, Windows: one
// WriteFile); a stop request is seen between requests.
inline constexpr std::size_t kFillBlocksPerRequest = 16;
// Temporary files of one fill at most, for volumes whose files cannot grow to the whole free
// space (FAT's 4 GiB): each is written until it cannot grow, then the next one follows.
inline constexpr int kMaxFillFiles = 10000;
// What the fill may write beyond the volume's whole size before it gives up on a volume that
// never reports itself full (it compresses or deduplicates the zeros).
inline constexpr std::uint64_t kFillOverrunAllowance = 64ull << 20;
// The program name the fill folder is named after.
inline constexpr char16_t kFillProgramName[] = u"Nulvane";
// What every fill file's name begins with; 15 random characters and ".xxx" follow.
inline constexpr char16_t kFillFilePrefix[] = u"tmp_ttt_";

// The free bytes of the volume that holds `path`, or kUnknownFreeBytes. When given, `total`
// receives the volume's size and `sector_size` its sector size (both untouched on failure).
std::uint64_t GetDriveFreeBytes(platform::FileSystem& fs, TextView path,
                                std::uint64_t* total = nullptr,
                                std::uint32_t* sector_size = nullptr);

// The largest multiple of `sector_size` not above 64000 (64000 itself on 512-byte sectors);
// the sector size itself when it is larger than that (65536-byte sectors: 65536-byte blocks),
// 512 for a sector size of 0.
std::uint32_t FillBlockSize(std::uint32_t sector_size);

// The fill folder's name: the program name with `tick` as 8 upper-case hexadecimal digits,
// e.g. Nulvane0A1B2C3D.
Text FillFolderName(std::uint32_t tick);
// The fill folder for a chosen folder: inside `chosen` (an absolute path), named as
// FillFolderName says, e.g. D:\Data\Nulvane0A1B2C3D.
Text FillFolderPath(TextView chosen, std::uint32_t tick);
// The path a fill file `name` has (or would have, for a nameless one) in `folder`.
Text FillFilePath(const platform::FillFolder& folder, TextView name);

// The state of one fill, owned by its worker.
struct FillState {
  std::uint64_t target_bytes = 0;   // the free space measured at the start: the percentage's 100
  std::uint64_t written_bytes = 0;  // bytes the system accepted
  int error_count = 0;
  int file_count = 0;        // temporary files created
  bool stopped = false;      // a stop request ended the fill
  bool volume_full = false;  // even a one-sector write found no space
  // The volume took more than its whole size without becoming full (a warning line).
  bool never_full = false;
};

struct FillResult {
  bool chosen = false;  // a folder was chosen and the fill went ahead
  FillState state;
};

// Writes temporary files into `folder` (each kFillFilePrefix + 15 random characters + ".xxx",
// nameless where the system can make them so) until the volume refuses a one-sector write for
// lack of space (the caller's quota included), a write fails, a stop is requested
// (context.flags.stop set to 1 or fill_running cleared, checked between requests), or the
// volume has taken its whole size and more; a file that cannot grow any more is followed by the
// next. Every file stays open until the fill has written everything (a nameless file's space
// would come back at its close), then they are flushed, closed and the named ones removed.
// Failures are message lines counted in `state.error_count`.
void FillFreeSpace(const RunContext& context, ProgressDisplay& progress, FillState& state,
                   platform::FillFolder& folder);

// The whole fill on the calling thread: the folder context.fill_folder (chosen before the
// worker started; a file or a link is refused with a line that says what it is), the fill
// folder made and held inside it as the system resolves it (FileSystem::MakeFillFolder), the
// names of fill folders an earlier, killed fill left there, the measurement, FillFreeSpace, the
// clean-up (the temporary files and the folder are removed however the fill ended; a folder
// that is no longer the one made is left alone and named) and the report, with a line for what
// the file system holds back for itself. Sets fill_running while it writes; clears the stop
// flag at its start and sets it again at its end. An empty folder is no fill: nothing happens.
FillResult RunFreeSpaceFill(const RunContext& context);

}  // namespace nulvane::engine
