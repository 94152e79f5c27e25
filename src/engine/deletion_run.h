// The deletion run: reads its options, counts down, adds up the bytes, destroys every item of
// the list from the last to the first (small files several at once), reports, and hands over
// to the after-run step.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/file_pool.h"
#include "engine/run_flags.h"
#include "engine/run_host.h"
#include "lang/text_ids.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace nulvane::engine {

// Everything a run (or a fill) works with. The referenced objects must outlive the run.
struct RunContext {
  RunContext(RunHost& run_host, platform::FileSystem& file_system, platform::Clock& run_clock,
             RunFlags& run_flags)
      : host(run_host), fs(file_system), clock(run_clock), flags(run_flags) {}

  RunHost& host;
  platform::FileSystem& fs;
  platform::Clock& clock;
  RunFlags& flags;
  // The options of a run, as its start read them (RunSession); the run clamps them again:
  // passes 1..35, delay 0..10.
  int passes = 1;
  int delay = 0;
  // When set to true during the wiping phase, the run finishes the items it is working on (up
  // to files_in_flight small files at once) and then stops: the remaining items stay untouched
  // and the after-run step does not happen.
  std::atomic<bool>* stop_after_item = nullptr;
  // The language-table id of the countdown line ("%d" takes the seconds left); the console
  // names its own keys in another text.
  lang::TextId countdown_text_id = lang::TextId::kCountdown;
  // Called on the worker when the countdown is over and the wiping phase begins.
  std::function<void()> on_wiping;
  // Read every file back after its last pass, past the system's cache, and keep (as an error)
  // any file that is not all zeros (the console's --verify).
  bool verify = false;
  // Small regular files destroyed at once, each on a worker of the run (see FilePool); 1: every
  // item one after another on the run's thread.
  int files_in_flight = kFilesInFlight;
  // The folder whose volume a fill works on, chosen before its worker started; empty: no fill.
  Text fill_folder;
};

struct RunResult {
  bool aborted = false;         // stopped during the countdown: nothing was touched
  bool stopped = false;         // stopped after an item by stop_after_item
  bool nothing_queued = false;  // the list was empty: no countdown, nothing done
  int error_count = 0;
  int items_done = 0;  // items WipeItem went through (failed ones included)
  int items_left = 0;  // items not started because of a stop request
  // What became of the listed items: gone from the disk; an error line (kept, or left behind
  // under a random name); left untouched (not what was listed, or not reached after a stop).
  int items_destroyed = 0;
  int items_failed = 0;
  int items_untouched = 0;
  std::uint64_t total_bytes = 0;
  std::uint64_t written_bytes = 0;
};

// Runs one deletion run on the calling thread (a worker that RunSession started). The caller
// has already disabled the run commands and set the after-run step chosen for this run.
RunResult RunDeletion(const RunContext& context);

// The most passes a run makes: the overwrite menu's largest count.
inline constexpr int kMaxPassCount = 35;

// The clamped option values of a run: passes 1..kMaxPassCount, delay 0..10.
int ClampPassCount(int passes);
int ClampDelay(int delay);

}  // namespace nulvane::engine
