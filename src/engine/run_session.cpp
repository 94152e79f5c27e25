#include "engine/run_session.h"

#include <chrono>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "settings/settings.h"

namespace nulvane::engine {

RunSession::RunSession(platform::FileSystem& fs, platform::Clock& clock) : fs_(fs), clock_(clock) {}

RunSession::~RunSession() {
  // A worker uses the session to its last instruction.
  while (Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int RunSession::ReadPasses(int* stored) {
  int passes = 0;
  settings::GetOptionInt(settings::kPassesKey, passes);
  if (stored) *stored = passes;
  return ClampPassCount(passes);
}

int RunSession::ReadDelay(int* stored) {
  int delay = flags_.delay.load();
  settings::GetOptionInt(settings::kDelayKey, delay);
  if (stored) *stored = delay;
  delay = ClampDelay(delay);
  flags_.delay.store(delay);
  return delay;
}

StartResult RunSession::Start(RunHost& host, RunRequest request) {
  // One worker at a time: a start while another run or fill is active is refused (its commands
  // are disabled then; a key or a queued command could still arrive).
  int idle = 0;
  if (!active_.compare_exchange_strong(idle, 1)) return StartResult::kBusy;
  const bool fill = request.kind == RunKind::kFill;
  if (fill) fills_.fetch_add(1);
  const auto give_back = [&] {
    flags_.after_run.store(AfterRun::kNone);
    if (fill) fills_.fetch_sub(1);
    active_.fetch_sub(1);
  };
  flags_.after_run.store(request.after_run);

  RunContext context(host, fs_, clock_, flags_);
  context.verify = request.verify;
  context.stop_after_item = request.stop_after_item;
  context.countdown_text_id = request.countdown_text_id;
  context.on_wiping = std::move(request.on_wiping);
  if (fill) {
    // The fill disables the commands itself, once it writes.
    std::optional<Text> folder;
    if (request.choose_folder) folder = request.choose_folder();
    if (!folder || folder->empty()) {
      give_back();
      return StartResult::kNothingChosen;
    }
    context.fill_folder = std::move(*folder);
  } else {
    host.SetCommandsEnabled(false);
    context.passes = request.passes ? ClampPassCount(*request.passes) : ReadPasses();
    context.delay = request.delay ? ClampDelay(*request.delay) : ReadDelay();
    flags_.delay.store(context.delay);
  }

  auto work = [this, context = std::move(context), done = std::move(request.done), fill] {
    RunOutcome outcome;
    if (fill) {
      outcome.kind = RunKind::kFill;
      outcome.fill = RunFreeSpaceFill(context);
    } else {
      outcome.run = RunDeletion(context);
    }
    if (done) done(outcome);
    if (fill) fills_.fetch_sub(1);
    // The worker's last access to the session.
    active_.fetch_sub(1);
  };
  try {
    if (starter_) {
      starter_(std::move(work));
    } else {
      std::thread(std::move(work)).detach();
    }
    return StartResult::kStarted;
  } catch (const std::system_error& error) {
    start_failure_ = platform::Utf8ToText(error.code().message());
  } catch (const std::bad_alloc&) {
    start_failure_ =
        platform::Utf8ToText(std::make_error_code(std::errc::not_enough_memory).message());
  }
  // Nothing ran: everything the start changed is put back.
  give_back();
  if (!fill) host.SetCommandsEnabled(true);
  return StartResult::kNoThread;
}

bool RunSession::StopFillAndWait(const std::function<bool()>& serve, std::uint32_t timeout_ms) {
  // The program ends: the run's after-run step must not follow.
  flags_.after_run.store(AfterRun::kNone);
  const std::uint32_t start = clock_.NowMs();
  while (FillActive() && static_cast<std::uint32_t>(clock_.NowMs() - start) < timeout_ms) {
    // Asked again on every round: a fill that was only about to write sets its flags when it
    // starts, and must see the request all the same. It stops between two writes, then closes
    // and deletes its files and removes its folder.
    flags_.fill_running.store(0);
    flags_.stop.store(1);
    if (!serve()) break;
  }
  return !FillActive();
}

RunSession& ProcessRunSession() {
  static RunSession* const session =
      new RunSession(platform::SystemFileSystem(), platform::SystemClock());
  return *session;
}

}  // namespace nulvane::engine
