#include "cli/commands.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "cli/cli.h"
#include "cli/console_host.h"
#include "cli/terminal.h"
#include "engine/deletion_run.h"
#include "engine/free_space_fill.h"
#include "engine/run_flags.h"
#include "items/item_list.h"
#include "lang/language_table.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/format.h"
#include "platform/interrupt.h"
#include "settings/settings.h"

namespace nulvane::cli {

namespace {

using platform::Format;

// What Ctrl+C and Esc act on. Signal handlers may only touch lock-free atomics.
std::atomic<int> g_interrupts{0};
std::atomic<bool> g_stop_after_item{false};
std::atomic<bool> g_wiping{false};
std::atomic<bool> g_second_interrupt_ends{true};

// Ctrl+C: during the countdown it aborts the run (nothing is touched); after the countdown
// the run finishes the current item and stops; a second Ctrl+C then ends the program at once.
// During a fill it stops the fill, which still removes its file and folder.
void OnInterrupt() {
  const int count = g_interrupts.fetch_add(1) + 1;
  engine::ProcessRunFlags().stop.store(1);
  g_stop_after_item.store(true);
  if (count >= 2 && g_second_interrupt_ends.load() && g_wiping.load())
    platform::ExitNow(kExitAborted);
}

// True from the start of a fill until its worker has finished its clean-up.
std::atomic<bool> g_fill_active{false};

// The console goes away during a fill (its window closed, the session ending): the system ends
// the process when this returns. The fill is stopped, and the process ends only once the fill
// has closed its temporary files (which removes them) and removed its folder, so that the
// volume is not left full.
void OnClose() {
  engine::ProcessRunFlags().stop.store(1);
  while (g_fill_active.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  platform::ExitNow(kExitAborted);
}

// Esc aborts the countdown; once the wiping has begun it does nothing.
void OnEscape() {
  if (!g_wiping.load()) engine::ProcessRunFlags().stop.store(1);
}

// Language-table ids of the lines for "." and ".." given as paths.
constexpr int kCurrentFolderText = 171;
constexpr int kParentFolderText = 172;

// Adds every path as the program adds command-line paths, naming the ones not found. "." and
// ".." are refused with a line that says what they name: destroying the folder one stands in
// (or the one above it) is asked for with its own path, never by accident.
bool AddPaths(items::ItemList& list, const std::vector<Text>& paths, Terminal& terminal) {
  bool all_found = true;
  for (const Text& path : paths) {
    if (path == u"." || path == u"..") {
      terminal.Message(
          Format(lang::Txt(path == u"." ? kCurrentFolderText : kParentFolderText), path),
          engine::MessageKind::kWarning);
      all_found = false;
      continue;
    }
    if (!list.AddPath(path)) {
      terminal.Message(Format(lang::Txt(121), path), engine::MessageKind::kWarning);
      all_found = false;
    }
  }
  list.RebuildRows();
  return all_found;
}

int EffectiveDelay(const JobOptions& options) {
  if (options.delay) return *options.delay;
  int delay = engine::ProcessRunFlags().delay.load();
  settings::GetOptionInt(settings::kDelayKey, delay);
  return engine::ClampDelay(delay);
}

// What a job on paths works with: the terminal, the host and the item list built from the
// paths on the main thread.
struct PathJob {
  explicit PathJob(const JobOptions& options)
      : terminal(options.quiet),
        host(terminal, calls),
        list(platform::SystemFileSystem(), host),
        all_found(AddPaths(list, options.paths, terminal)) {}

  Terminal terminal;
  MainThreadCalls calls;
  ConsoleHost host;
  items::ItemList list;
  const bool all_found;
};

}  // namespace

int ListPaths(const JobOptions& options) {
  PathJob job(options);
  Terminal& terminal = job.terminal;
  const items::ItemList& list = job.list;
  // Row order is the order of destruction read backwards: a folder stands before its contents.
  // The rows carry what the list found when it looked; nothing is asked of the disk again.
  char16_t size[64];
  Text path;
  const int rows = list.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (!list.GetRowText(row, 1, size, sizeof size / sizeof size[0])) size[0] = 0;
    list.GetRowPath(row, path);
    terminal.GatheredLine(Format(u"%12s  %s", static_cast<const char16_t*>(size), path));
  }
  terminal.Line(job.host.LastStatus());
  return job.all_found && job.host.ListWarningCount() == 0 ? kExitOk : kExitFailed;
}

int DestroyPaths(const JobOptions& options) {
  PathJob job(options);
  Terminal& terminal = job.terminal;
  MainThreadCalls& calls = job.calls;
  ConsoleHost& host = job.host;
  items::ItemList& list = job.list;
  const bool all_found = job.all_found && host.ListWarningCount() == 0;
  if (list.RowCount() == 0) {
    terminal.Line(host.LastStatus());
    return all_found ? kExitOk : kExitFailed;
  }
  host.SetItemList(&list);
  host.SetDelayForLabel(EffectiveDelay(options));

  engine::RunFlags& flags = engine::ProcessRunFlags();
  flags.exit_after_run.store(0);
  flags.after_run_action.store(0);
  engine::RunContext context{host, platform::SystemFileSystem(), platform::SystemClock(), flags};
  context.passes = options.passes;
  context.delay = options.delay;
  context.verify = options.verify;
  context.stop_after_item = &g_stop_after_item;
  context.countdown_text_id = 120;
  context.on_wiping = [] { g_wiping.store(true); };

  std::atomic<bool> done{false};
  engine::RunResult result;
  g_interrupts.store(0);
  g_stop_after_item.store(false);
  g_wiping.store(false);
  g_second_interrupt_ends.store(true);
  platform::SetInterruptHandler(OnInterrupt);
  bool announced = false;
  {
    platform::EscapeKeyWatch escape(OnEscape);
    list.BeginRun();
    std::thread worker = engine::StartDeletionRun(context, [&](const engine::RunResult& r) {
      result = r;
      done.store(true);
      calls.Wake();
    });
    calls.ServeUntil(done, [&] {
      if (!announced && g_wiping.load() && g_interrupts.load() > 0) {
        announced = true;
        terminal.Message(lang::Txt(123), engine::MessageKind::kWarning);
      }
    });
    worker.join();
    list.EndRun();
  }
  platform::SetInterruptHandler(nullptr);
  terminal.EndProgress();

  if (result.aborted) return kExitAborted;
  if (result.stopped) {
    terminal.Message(Format(lang::Txt(122), result.items_left), engine::MessageKind::kWarning);
    terminal.Line(host.LastStatus());
    return kExitAborted;
  }
  terminal.Line(host.LastStatus());
  if (result.error_count > 0 || !all_found || host.ListWarningCount() > 0) return kExitFailed;
  return kExitOk;
}

int FillFreeSpaceOf(const JobOptions& options) {
  Terminal terminal(options.quiet);
  MainThreadCalls calls;
  ConsoleHost host(terminal, calls);
  platform::FileSystem& fs = platform::SystemFileSystem();
  // A file, a link or a device is refused by the fill with a line that says what it is.
  platform::EntryInfo info;
  if (const platform::IoResult found = fs.FindEntry(options.paths[0], info);
      platform::IsNotFound(found)) {
    terminal.Message(Format(lang::Txt(121), options.paths[0]), engine::MessageKind::kError);
    return kExitFailed;
  }
  host.SetFillFolder(fs.FullPath(options.paths[0]));
  engine::RunFlags& flags = engine::ProcessRunFlags();
  flags.exit_after_run.store(0);
  flags.after_run_action.store(0);
  engine::RunContext context{host, fs, platform::SystemClock(), flags};

  g_interrupts.store(0);
  g_wiping.store(false);
  // The fill's clean-up must run: a second Ctrl+C does not cut it short.
  g_second_interrupt_ends.store(false);
  platform::SetInterruptHandler(OnInterrupt);
  std::atomic<bool> done{false};
  engine::FillResult result;
  g_fill_active.store(true);
  platform::SetCloseHandler(OnClose);
  std::thread worker = engine::StartFreeSpaceFill(context, [&](const engine::FillResult& r) {
    result = r;
    g_fill_active.store(false);
    done.store(true);
    calls.Wake();
  });
  calls.ServeUntil(done, nullptr);
  worker.join();
  platform::SetCloseHandler(nullptr);
  platform::SetInterruptHandler(nullptr);
  terminal.EndProgress();
  if (result.state.stopped || g_interrupts.load() > 0) return kExitAborted;
  return result.state.error_count > 0 ? kExitFailed : kExitOk;
}

}  // namespace nulvane::cli
