#include "engine/deletion_run.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "engine/display.h"
#include "engine/file_pool.h"
#include "engine/wipe.h"
#include "lang/language_table.h"
#include "platform/format.h"

namespace nulvane::engine {

namespace {

using platform::Format;

using lang::TextId;

RunResult Abort(const RunContext& context, TextView abort_text) {
  SetCommandsEnabled(context.host, true);
  AddMessage(context.host, abort_text, MessageKind::kWarning);
  RunResult result;
  result.aborted = true;
  return result;
}

// The bytes the run is going to write: the sizes of the regular files of the list, looked up
// once before anything is written, times the pass count. `pooled[i]` tells whether item i was
// then a regular file small enough for the run's workers (kPooledFileBytes).
std::uint64_t TotalBytes(platform::FileSystem& fs, const platform::QueuedItems& items, int passes,
                         std::vector<bool>& pooled) {
  std::uint64_t sum = 0;
  pooled.assign(items.size(), false);
  for (std::size_t index = 0; index < items.size(); ++index) {
    const platform::QueuedItemView item = items[index];
    if (item.path.empty()) continue;
    platform::EntryInfo info;
    if (fs.Inspect(item.Ref(), info) && info.kind == platform::EntryKind::kFile &&
        item.identity.Matches(info.identity)) {
      sum += info.size;
      pooled[index] = info.size <= kPooledFileBytes;
    }
  }
  return sum * static_cast<std::uint64_t>(passes);
}

// What became of one item, from the error counts before and after it: every failure of an
// item is an error line, so an item without one is gone.
void CountOutcome(const RunTally& before, const RunTally& after, RunResult& result) {
  ++result.items_done;
  if (after.refused_count != before.refused_count) {
    ++result.items_untouched;
  } else if (after.error_count != before.error_count) {
    ++result.items_failed;
  } else {
    ++result.items_destroyed;
  }
}

// Hands the report of an item a worker destroyed to the host and the run's counters, as if the
// run's thread had destroyed it at this point.
void TakeReport(RunHost& host, ProgressDisplay& progress, const ItemReport& report, RunTally& tally,
                RunResult& result) {
  for (const ItemReport::Line& line : report.lines) host.AddMessage(line.text, line.kind);
  const RunTally before = tally;
  tally.total_bytes += report.tally.total_bytes;
  tally.written_bytes += report.tally.written_bytes;
  tally.error_count += report.tally.error_count;
  tally.refused_count += report.tally.refused_count;
  CountOutcome(before, tally, result);
  progress.Report(tally.written_bytes, tally.total_bytes);
}

}  // namespace

// The overwrite menu offers 1 to 35 passes and the label shows the chosen count: a run makes
// exactly that many.
int ClampPassCount(int passes) {
  return passes < 1 ? 1 : (passes > kMaxPassCount ? kMaxPassCount : passes);
}

int ClampDelay(int delay) { return delay < 0 ? 0 : (delay > 10 ? 10 : delay); }

RunResult RunDeletion(const RunContext& context) {
  RunHost& host = context.host;
  RunFlags& flags = context.flags;
  const Text error_word(lang::Txt(TextId::kErrorWord));
  // The list as it stood when the run began: rows added or removed meanwhile cannot shift
  // what the run destroys.
  const platform::QueuedItems items = host.SnapshotItems();
  std::array<unsigned char, 3000> zero_buffer{};
  zero_buffer.fill(0);

  if (items.empty()) {
    // Nothing to destroy: no countdown, no report of a run that did nothing, no after-run step.
    AddMessage(host, lang::Txt(TextId::kNothingQueued), MessageKind::kWarning);
    flags.after_run.store(AfterRun::kNone);
    SetCommandsEnabled(host, true);
    RunResult result;
    result.nothing_queued = true;
    return result;
  }

  const int passes = ClampPassCount(context.passes);
  const int delay = ClampDelay(context.delay);
  AddMessage(host, lang::Txt(TextId::kStarting), MessageKind::kInfo);
  AddMessage(host, host.ShowRunOptions(passes, delay), MessageKind::kInfo);
  flags.stop.store(0);
  flags.delay.store(delay);
  const Text abort_text(lang::Txt(TextId::kAbort));

  // The delay is re-read on every turn: the user may change it during the countdown.
  for (int i = 0;; ++i) {
    const int current_delay = flags.delay.load();
    if (i >= current_delay) break;
    AddMessage(host, Format(lang::Txt(context.countdown_text_id), current_delay - i),
               MessageKind::kInfo);
    if (flags.stop.load() != 0) return Abort(context, abort_text);
    context.clock.SleepMs(1000);
  }
  if (flags.stop.load() != 0) return Abort(context, abort_text);
  if (context.on_wiping) context.on_wiping();

  // From here to the last item the folders on the way stay open between items; they are opened
  // anew now, after the countdown, and closed before the run reports its end.
  std::optional<platform::OpenFolderScope> open_folders;
  open_folders.emplace(context.fs);
  RunTally tally;
  RunResult result;
  std::vector<bool> pooled;
  tally.total_bytes = TotalBytes(context.fs, items, passes, pooled);
  AddMessage(host,
             Format(u"%s %s", lang::Txt(TextId::kTotal), lang::FormatByteSize(tally.total_bytes)),
             MessageKind::kInfo);

  ProgressDisplay progress(host, context.clock);
  progress.Start();
  WipeTools tools{context.fs, host, progress, zero_buffer};
  tools.verify = context.verify;
  // Small regular files go to the workers, several at once; every other item (a folder, a
  // link, a large file, anything the first look did not find to be a plain file) waits until
  // the items in flight are done and goes on this thread. The reports come back in the order
  // the items were started, so the lines read as those of one item after another.
  std::optional<FilePool> pool;
  const int in_flight = context.files_in_flight < 1 ? 1 : context.files_in_flight;
  if (in_flight > 1 && std::count(pooled.begin(), pooled.end(), true) > 1) {
    pool.emplace(context.fs, zero_buffer, context.verify, passes, in_flight);
    if (pool->Workers() == 0) pool.reset();  // no thread to be had: one item after another
  }
  auto take_all = [&] {
    if (!pool) return;
    pool->Quiesce();
    while (pool->InFlight() != 0) TakeReport(host, progress, pool->TakeOldest(), tally, result);
  };
  // Last item first: every folder stands before its contents in the list, so walking
  // backwards empties each folder before its own turn: all items after a folder are done
  // before it starts.
  for (std::size_t index = items.size(); index-- > 0;) {
    const bool listed = !items[index].path.empty();
    const bool to_pool = listed && pool && pooled[index];
    // Room is made before the stop is looked at: the wait for a free worker, or for all items
    // in flight before an item of this thread, may be long, and a stop asked meanwhile must
    // start nothing new.
    if (to_pool && pool->InFlight() == static_cast<std::size_t>(pool->Workers())) {
      TakeReport(host, progress, pool->TakeOldest(), tally, result);
    } else if (listed && !to_pool) {
      take_all();
    }
    if (context.stop_after_item && context.stop_after_item->load()) {
      // The items in flight are finished; no new one starts.
      take_all();
      result.stopped = true;
      result.items_left = static_cast<int>(index + 1);
      result.items_untouched += result.items_left;
      break;
    }
    if (!listed) continue;
    if (to_pool) {
      pool->Start(items[index]);
      continue;
    }
    const RunTally before = tally;
    WipeItem(tools, items[index].Ref(), passes, tally);
    CountOutcome(before, tally, result);
  }
  take_all();
  pool.reset();
  // The last report is shown whatever the throttle says: the progress text, the status bar and
  // the title end on what was really written.
  if (tally.total_bytes != 0) progress.ReportFinal(tally.written_bytes, tally.total_bytes);

  open_folders.reset();
  host.RebuildRows();
  host.SetTitle(lang::Txt(TextId::kProductName));
  // What was really written: a run whose files failed does not claim 100 %.
  const double percent = tally.total_bytes == 0 ? 100.0
                                                : static_cast<double>(tally.written_bytes) /
                                                      static_cast<double>(tally.total_bytes) * 100;
  const bool all_destroyed = result.items_failed == 0 && result.items_untouched == 0;
  AddMessage(host,
             Format(lang::Txt(TextId::kOutcome), result.items_destroyed, result.items_failed,
                    result.items_untouched),
             all_destroyed ? MessageKind::kInfo : MessageKind::kWarning);
  host.SetStatusText(Format(u"%.1lf %% // %s: %d ", percent, error_word, tally.error_count));
  flags.stop.store(1);
  SetCommandsEnabled(host, true);

  result.error_count = tally.error_count;
  result.total_bytes = tally.total_bytes;
  result.written_bytes = tally.written_bytes;
  RunEnd end;
  end.error_count = tally.error_count;
  end.stopped = result.stopped;
  end.after_run =
      DueAfterRun(flags.after_run.exchange(AfterRun::kNone), result.stopped, tally.error_count);
  host.RunEnded(end);
  return result;
}

}  // namespace nulvane::engine
