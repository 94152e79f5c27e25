// The owner of a deletion run or a free-space fill from its start to its end: the shared flags,
// the rule of one worker at a time, the options read once at the start, the start itself, the
// stop, and the wait for the worker when the program closes. The window and the console start
// and stop their runs only through it.
#pragma once

#include <atomic>
#include <functional>
#include <optional>

#include "engine/deletion_run.h"
#include "engine/free_space_fill.h"
#include "engine/run_flags.h"
#include "engine/run_host.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::engine {

enum class RunKind { kDeletion, kFill };

// What came of a run or a fill: `run` for a deletion, `fill` for a fill.
struct RunOutcome {
  RunKind kind = RunKind::kDeletion;
  RunResult run;
  FillResult fill;
};

// What a front end asks for when it starts a run or a fill.
struct RunRequest {
  RunKind kind = RunKind::kDeletion;
  AfterRun after_run = AfterRun::kNone;
  // The console's -p and -d; without them the settings give the values. Clamped either way.
  std::optional<int> passes;
  std::optional<int> delay;
  bool verify = false;
  std::atomic<bool>* stop_after_item = nullptr;
  lang::TextId countdown_text_id = lang::TextId::kCountdown;
  std::function<void()> on_wiping;
  // A fill's folder, asked on the starting thread once the session is taken for this fill and
  // before its worker starts (the window shows its folder picker there). Nothing, or an empty
  // path, starts nothing.
  std::function<std::optional<Text>()> choose_folder;
  // Called on the worker after the run's last call to the host, with what came of it. The
  // session counts the worker as active until this has returned.
  std::function<void(const RunOutcome&)> done;
};

enum class StartResult {
  kStarted,
  kBusy,           // another run or fill is active: one worker at a time
  kNothingChosen,  // a fill whose folder choice gave nothing
  kNoThread,       // the worker could not start (StartFailure says why); nothing ran
};

class RunSession {
 public:
  // Starts `work` on a thread of its own that nobody joins; may throw as std::thread's
  // construction does.
  using WorkerStarter = std::function<void(std::function<void()> work)>;

  RunSession(platform::FileSystem& fs, platform::Clock& clock);
  // Waits until no worker is active.
  ~RunSession();
  RunSession(const RunSession&) = delete;
  RunSession& operator=(const RunSession&) = delete;

  RunFlags& flags() { return flags_; }

  // "re_write" clamped to 1..35: the passes a run makes. `stored`, when given, receives the
  // value as stored (the overwrite menu marks that one).
  static int ReadPasses(int* stored = nullptr);
  // "del_delay" (default: the delay held now) clamped to 0..10, which becomes the delay held
  // and the countdown's. `stored`, when given, receives the value as stored.
  int ReadDelay(int* stored = nullptr);

  // Starts a run or a fill on a worker, reporting to `host` (which must outlive the worker). A
  // deletion takes its options from the request or the settings now. The flags and the worker
  // count are put back when nothing starts.
  StartResult Start(RunHost& host, RunRequest request);
  // Why the last start gave kNoThread: the system's words.
  const Text& StartFailure() const { return start_failure_; }

  // From a start until its worker has handed everything back (a fill's folder choice
  // included).
  bool Active() const { return active_.load() != 0; }
  // The same for a fill.
  bool FillActive() const { return fills_.load() != 0; }

  // Stops a fill (between two writes), drops the after-run step of the run at work, and waits
  // until the fill's worker has removed its files and handed everything back, calling `serve`
  // between looks (the window handles its messages there, which carry the worker's calls) for
  // at most `timeout_ms`. `serve` returning false ends the wait early. Returns whether no fill
  // is active any more.
  bool StopFillAndWait(const std::function<bool()>& serve, std::uint32_t timeout_ms);

  // Replaces the start of worker threads (tests); null: a detached std::thread.
  void SetWorkerStarter(WorkerStarter starter) { starter_ = std::move(starter); }

 private:
  platform::FileSystem& fs_;
  platform::Clock& clock_;
  RunFlags flags_;
  std::atomic<int> active_{0};
  std::atomic<int> fills_{0};
  WorkerStarter starter_;
  Text start_failure_;
};

// The session of the running program, on the system's file system and clock. Never destroyed:
// a worker still running when the program ends may use it to its last instruction.
RunSession& ProcessRunSession();

}  // namespace nulvane::engine
