#include "cli/commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "cli/cli.h"
#include "cli/console_host.h"
#include "cli/terminal.h"
#include "engine/run_session.h"
#include "items/item_list.h"
#include "lang/language_table.h"
#include "platform/file_system.h"
#include "platform/format.h"
#include "platform/interrupt.h"

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
  engine::ProcessRunSession().flags().stop.store(1);
  g_stop_after_item.store(true);
  if (count >= 2 && g_second_interrupt_ends.load() && g_wiping.load())
    platform::ExitNow(kExitAborted);
}

// The console goes away during a fill (its window closed, the session ending): the system ends
// the process when this returns. The fill is stopped, and the process ends only once the fill
// has closed its temporary files (which removes them) and removed its folder, so that the
// volume is not left full.
void OnClose() {
  engine::ProcessRunSession().flags().stop.store(1);
  while (engine::ProcessRunSession().FillActive())
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  platform::ExitNow(kExitAborted);
}

// Esc aborts the countdown; once the wiping has begun it does nothing.
void OnEscape() {
  if (!g_wiping.load()) engine::ProcessRunSession().flags().stop.store(1);
}

// The worker has handed its outcome over; it is waited for until it has left the session too,
// so that nothing it used goes away under it.
void WaitForTheWorker(const engine::RunSession& session) {
  while (session.Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

using lang::TextId;

// Adds every path as the program adds command-line paths, naming the ones not found. "." and
// ".." are refused with a line that says what they name: destroying the folder one stands in
// (or the one above it) is asked for with its own path, never by accident.
bool AddPaths(items::ItemList& list, const std::vector<Text>& paths, Terminal& terminal) {
  bool all_found = true;
  for (const Text& path : paths) {
    if (path == u"." || path == u"..") {
      terminal.Message(Format(lang::Txt(path == u"." ? TextId::kCurrentFolderRefused
                                                     : TextId::kParentFolderRefused),
                              path),
                       engine::MessageKind::kWarning);
      all_found = false;
      continue;
    }
    if (!list.AddPath(path)) {
      terminal.Message(Format(lang::Txt(TextId::kNotFound), path), engine::MessageKind::kWarning);
      all_found = false;
    }
  }
  list.RebuildRows();
  return all_found;
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
  // Each line is the size right-aligned in 12 units, two spaces and the path, put together in
  // one buffer that every row reuses.
  constexpr std::size_t kSizeWidth = 12;
  char16_t size[64];
  Text path;
  Text line;
  const int rows = list.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (!list.GetRowText(row, 1, size, sizeof size / sizeof size[0])) size[0] = 0;
    list.GetRowPath(row, path);
    const TextView size_text(size);
    line.assign(kSizeWidth - std::min(size_text.size(), kSizeWidth), u' ');
    line += size_text;
    line += u"  ";
    line += path;
    terminal.GatheredLine(line);
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

  engine::RunSession& session = engine::ProcessRunSession();
  engine::RunRequest request;
  request.passes = options.passes;
  request.delay = options.delay;
  request.verify = options.verify;
  request.stop_after_item = &g_stop_after_item;
  request.countdown_text_id = TextId::kConsoleCountdown;
  request.on_wiping = [] { g_wiping.store(true); };
  std::atomic<bool> done{false};
  engine::RunResult result;
  request.done = [&](const engine::RunOutcome& outcome) {
    result = outcome.run;
    done.store(true);
    calls.Wake();
  };

  g_interrupts.store(0);
  g_stop_after_item.store(false);
  g_wiping.store(false);
  g_second_interrupt_ends.store(true);
  platform::SetInterruptHandler(OnInterrupt);
  bool announced = false;
  {
    platform::EscapeKeyWatch escape(OnEscape);
    list.BeginRun();
    if (session.Start(host, std::move(request)) != engine::StartResult::kStarted) {
      list.EndRun();
      platform::SetInterruptHandler(nullptr);
      terminal.Message(Format(lang::Txt(TextId::kCannotStart), session.StartFailure()),
                       engine::MessageKind::kError);
      return kExitFailed;
    }
    calls.ServeUntil(done, [&] {
      if (!announced && g_wiping.load() && g_interrupts.load() > 0) {
        announced = true;
        terminal.Message(lang::Txt(TextId::kConsoleStopping), engine::MessageKind::kWarning);
      }
    });
    WaitForTheWorker(session);
    list.EndRun();
  }
  platform::SetInterruptHandler(nullptr);
  terminal.EndProgress();

  if (result.aborted) return kExitAborted;
  if (result.stopped) {
    terminal.Message(Format(lang::Txt(TextId::kStoppedItemsLeft), result.items_left),
                     engine::MessageKind::kWarning);
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
    terminal.Message(Format(lang::Txt(TextId::kNotFound), options.paths[0]),
                     engine::MessageKind::kError);
    return kExitFailed;
  }
  engine::RunSession& session = engine::ProcessRunSession();
  engine::RunRequest request;
  request.kind = engine::RunKind::kFill;
  request.choose_folder = [&] { return std::optional<Text>(fs.FullPath(options.paths[0])); };
  std::atomic<bool> done{false};
  engine::FillResult result;
  request.done = [&](const engine::RunOutcome& outcome) {
    result = outcome.fill;
    done.store(true);
    calls.Wake();
  };

  g_interrupts.store(0);
  g_wiping.store(false);
  // The fill's clean-up must run: a second Ctrl+C does not cut it short.
  g_second_interrupt_ends.store(false);
  platform::SetInterruptHandler(OnInterrupt);
  platform::SetCloseHandler(OnClose);
  const engine::StartResult started = session.Start(host, std::move(request));
  if (started == engine::StartResult::kStarted) {
    calls.ServeUntil(done, nullptr);
    WaitForTheWorker(session);
  }
  platform::SetCloseHandler(nullptr);
  platform::SetInterruptHandler(nullptr);
  terminal.EndProgress();
  if (started == engine::StartResult::kNoThread) {
    terminal.Message(Format(lang::Txt(TextId::kCannotStart), session.StartFailure()),
                     engine::MessageKind::kError);
    return kExitFailed;
  }
  if (result.state.stopped || g_interrupts.load() > 0) return kExitAborted;
  return result.state.error_count > 0 ? kExitFailed : kExitOk;
}

}  // namespace nulvane::cli
