// The deletion run on the in-memory file system: options, countdown and abort, order of
// destruction, the final report, the after-run step, stopping after an item, the worker
// thread, and a fault injected into every file-system call in turn.
#include "engine/deletion_run.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "engine/display.h"
#include "engine/run_session.h"
#include "engine_test_support.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "settings/settings.h"
#include "support/fake_clock.h"
#include "support/fake_file_system.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

namespace nulvane::engine {
namespace {

using platform::Format;
using testing::FakeClock;
using testing::FakeError;
using testing::FakeFileSystem;
using testing::FakePath;
using testing::FsCall;
using testing::FsOp;
using testing::RecordingHost;
using CallKind = testing::RecordingHost::CallKind;

class DeletionRunTest : public ::testing::Test {
 protected:
  DeletionRunTest() {
    settings::UseSettingsFile(settings_folder_ / u"nulvane.ini");
    host_.SetOptionLabel(u"Delete &Delay 0 sec");
  }
  ~DeletionRunTest() override { settings::UseSettingsFile(u""); }

  RunContext Context(int passes = 1, int delay = 0) {
    RunContext context(host_, fs_, clock_, flags_);
    context.passes = passes;
    context.delay = delay;
    return context;
  }
  // A run as a front end starts it: through a session, which reads what the request leaves
  // open from the settings. Waits for the run's end.
  static RunResult RunThrough(RunSession& session, RunHost& host, RunRequest request = {}) {
    RunResult result;
    request.done = [&](const RunOutcome& outcome) { result = outcome.run; };
    EXPECT_EQ(session.Start(host, std::move(request)), StartResult::kStarted);
    while (session.Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return result;
  }
  RunResult Run(const RunContext& context) {
    RunResult result;
    testing::RunOnFreshThread([&] { result = RunDeletion(context); });
    return result;
  }
  std::vector<Text> Errors() const { return host_.MessagesOfKind(MessageKind::kError); }
  // The rows as the list hands them over: with the identities it recorded at its first look.
  void QueueItems(const std::vector<Text>& paths) {
    host_.SetItems(paths, [&](TextView path) { return fs_.IdentityOf(path); });
  }

  testing::TempFolder settings_folder_;
  FakeFileSystem fs_;
  RecordingHost host_;
  FakeClock clock_;
  RunSession session_{fs_, clock_};
  RunFlags& flags_ = session_.flags();
};

TEST_F(DeletionRunTest, WithoutDelayWipesAtOnceLastItemFirstAndReports) {
  const Text folder = FakePath(u"w/F");
  const Text a = FakePath(u"w/F/a"), b = FakePath(u"w/F/b");
  fs_.AddFileOfSize(a, 3000);
  fs_.AddFileOfSize(b, 1000);
  fs_.AddFile(FakePath(u"w/keep"), "keep");
  QueueItems({folder, a, b});
  // One item after another, so that the calls follow the items (several files in flight:
  // FilesInFlight).
  RunContext context = Context(2, 0);
  context.files_in_flight = 1;
  const RunResult result = Run(context);

  EXPECT_FALSE(result.aborted);
  EXPECT_EQ(result.error_count, 0);
  EXPECT_EQ(result.items_done, 3);
  EXPECT_EQ(result.total_bytes, 8000u);
  EXPECT_EQ(result.written_bytes, 8000u);
  EXPECT_EQ(host_.MessageTexts(),
            (std::vector<Text>{u"Start ...", u"Delete &Delay 0 sec",
                               u"Total " + lang::FormatByteSize(8000),
                               u"Destroyed: 3, failed: 0, left untouched: 0"}));
  EXPECT_EQ(host_.Messages().back().kind, MessageKind::kInfo);
  // b, then a, then the folder.
  const auto opens = fs_.CallsOf(FsOp::kOpenForOverwrite);
  ASSERT_EQ(opens.size(), 4u);
  EXPECT_EQ(opens[0].path, b);
  EXPECT_EQ(opens[2].path, a);
  EXPECT_EQ(fs_.CallsOf(FsOp::kRemoveFolder).size(), 1u);
  EXPECT_EQ(fs_.Children(FakePath(u"w")), std::vector<Text>{FakePath(u"w/keep")});
  EXPECT_EQ(host_.LastStatus(), u"100.0 % // Error: 0 ");
  EXPECT_EQ(host_.LastTitle(), u"Nulvane");
  EXPECT_EQ(host_.Count(CallKind::kRebuildRows), 1);
  EXPECT_TRUE(host_.CommandsEnabled());
  EXPECT_EQ(flags_.stop.load(), 1);
  EXPECT_EQ(clock_.Sleeps(), 0);
}

TEST_F(DeletionRunTest, CountdownAddsOneLinePerSecondAndAStopAbortsUntouched) {
  const Text file = FakePath(u"w/a");
  fs_.AddFileOfSize(file, 100);
  QueueItems({file});
  const auto before = fs_.TakeSnapshot();
  clock_.OnSleep([&](int sleep) {
    if (sleep == 2) flags_.stop.store(1);  // Esc during the second second
  });
  const RunResult result = Run(Context(1, 3));

  EXPECT_TRUE(result.aborted);
  EXPECT_EQ(host_.MessageTexts(),
            (std::vector<Text>{u"Start ...", u"Delete &Delay 0 sec",
                               u"The begin in 3 sec. Abort with [ESC]",
                               u"The begin in 2 sec. Abort with [ESC]",
                               u"The begin in 1 sec. Abort with [ESC]", u"Abort // [ESC]"}));
  EXPECT_EQ(host_.Messages().back().kind, MessageKind::kWarning);
  EXPECT_EQ(fs_.TakeSnapshot(), before);
  EXPECT_EQ(fs_.CountOf(FsOp::kFindEntry), 0);
  EXPECT_EQ(host_.Count(CallKind::kSetStatusText), 0);
  EXPECT_EQ(host_.Count(CallKind::kRebuildRows), 0);
  EXPECT_TRUE(host_.CommandsEnabled());
  EXPECT_EQ(flags_.stop.load(), 1);
}

TEST_F(DeletionRunTest, AStopDuringTheLastSecondStillAborts) {
  const Text file = FakePath(u"w/a");
  fs_.AddFileOfSize(file, 100);
  QueueItems({file});
  clock_.OnSleep([&](int) { flags_.stop.store(1); });
  EXPECT_TRUE(Run(Context(1, 1)).aborted);
  EXPECT_TRUE(fs_.Exists(file));
}

TEST_F(DeletionRunTest, ADelayChangedDuringTheCountdownTakesEffect) {
  fs_.AddFileOfSize(FakePath(u"w/a"), 10);
  QueueItems({FakePath(u"w/a")});
  clock_.OnSleep([&](int sleep) {
    if (sleep == 1) flags_.delay.store(2);
  });
  Run(Context(1, 9));
  EXPECT_EQ(clock_.Sleeps(), 2);
}

TEST_F(DeletionRunTest, OptionsComeFromTheSettingsClamped) {
  const Text file = FakePath(u"w/a");
  fs_.AddFileOfSize(file, 10);
  QueueItems({file});
  ASSERT_TRUE(settings::PutOptionInt(settings::kPassesKey, 36));
  ASSERT_TRUE(settings::PutOptionInt(settings::kDelayKey, 15));
  const RunResult result = RunThrough(session_, host_);
  // The overwrite menu's largest count, 35, is the most a run makes.
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 35);
  EXPECT_EQ(result.total_bytes, 350u);
  EXPECT_EQ(flags_.delay.load(), 10);
  EXPECT_EQ(clock_.Sleeps(), 10);
}

TEST_F(DeletionRunTest, EveryCountTheOverwriteMenuOffersIsThePassCountOfTheRun) {
  for (const int passes : {11, 20, 35}) {
    FakeFileSystem fs;
    fs.AddFileOfSize(FakePath(u"w/a"), 37);
    host_.SetItems({FakePath(u"w/a")}, [&](TextView path) { return fs.IdentityOf(path); });
    ASSERT_TRUE(settings::PutOptionInt(settings::kPassesKey, passes));
    RunSession session(fs, clock_);
    RunRequest request;
    request.delay = 0;
    const RunResult result = RunThrough(session, host_, request);
    EXPECT_EQ(fs.CountOf(FsOp::kOpenForOverwrite), passes);
    // The "Total" line counts every pass.
    EXPECT_EQ(result.total_bytes, 37u * static_cast<unsigned>(passes));
    EXPECT_EQ(result.written_bytes, result.total_bytes);
  }
}

TEST_F(DeletionRunTest, LowOrMissingOptionsGiveOnePassAndNoCountdown) {
  for (const int passes : {0, -4}) {
    FakeFileSystem fs;
    fs.AddFileOfSize(FakePath(u"w/a"), 10);
    host_.SetItems({FakePath(u"w/a")}, [&](TextView path) { return fs.IdentityOf(path); });
    ASSERT_TRUE(settings::PutOptionInt(settings::kPassesKey, passes));
    ASSERT_TRUE(settings::PutOptionInt(settings::kDelayKey, -3));
    RunSession session(fs, clock_);
    RunThrough(session, host_);
    EXPECT_EQ(fs.CountOf(FsOp::kOpenForOverwrite), 1) << passes;
    EXPECT_EQ(session.flags().delay.load(), 0);
  }
  EXPECT_EQ(clock_.Sleeps(), 0);
  // Missing keys: one pass, the delay stays what it was.
  settings::UseSettingsFile(settings_folder_ / u"empty.ini");
  flags_.delay.store(0);
  fs_.AddFileOfSize(FakePath(u"w/a"), 10);
  QueueItems({FakePath(u"w/a")});
  RunThrough(session_, host_);
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 1);
  EXPECT_EQ(flags_.delay.load(), 0);
}

TEST_F(DeletionRunTest, ConsoleOverridesAreClampedLikeSettings) {
  const Text file = FakePath(u"w/a");
  fs_.AddFileOfSize(file, 10);
  QueueItems({file});
  Run(Context(99, 42));
  EXPECT_EQ(fs_.CountOf(FsOp::kOpenForOverwrite), 35);
  EXPECT_EQ(flags_.delay.load(), 10);
}

TEST_F(DeletionRunTest, AnEmptyListStartsNoCountdownAndSaysNothingIsQueued) {
  QueueItems({});
  flags_.after_run.store(AfterRun::kShutDown);
  const RunResult result = Run(Context(1, 5));
  EXPECT_TRUE(result.nothing_queued);
  EXPECT_EQ(host_.MessageTexts(),
            std::vector<Text>{u"Nothing is queued: add files or folders first."});
  EXPECT_EQ(clock_.Sleeps(), 0);
  // No report of a run that did nothing, and no after-run step.
  EXPECT_EQ(host_.Count(CallKind::kSetStatusText), 0);
  EXPECT_EQ(host_.Count(CallKind::kRebuildRows), 0);
  EXPECT_EQ(host_.Count(CallKind::kRunEnded), 0);
  EXPECT_TRUE(host_.CommandsEnabled());
  EXPECT_EQ(flags_.stop.load(), 1);
}

TEST_F(DeletionRunTest, TheLastReportIsShownUnthrottledAndAgreesWithTheSummary) {
  // The clock stands still: every report but the last falls to the throttle.
  fs_.AddFileOfSize(FakePath(u"w/a"), 1000);
  fs_.AddFileOfSize(FakePath(u"w/b"), 3000);
  fs_.SetHeldOpen(FakePath(u"w/b"), true);
  QueueItems({FakePath(u"w/a"), FakePath(u"w/b")});
  Run(Context());
  ASSERT_EQ(host_.Count(CallKind::kSetProgressText), 1);
  const Text shown = u"25.0 % " + lang::FormatByteSize(1000) + u" of " + lang::FormatByteSize(4000);
  const Text progress = host_.LastProgress();
  EXPECT_EQ(progress.substr(progress.size() - shown.size()), shown);
  const auto titles = host_.CallsOf(CallKind::kSetTitle);
  ASSERT_EQ(titles.size(), 2u);
  EXPECT_EQ(titles[0].text, u"[25.0 %] Nulvane 4.21");
  EXPECT_EQ(titles[1].text, u"Nulvane");
  EXPECT_EQ(host_.LastStatus(), u"25.0 % // Error: 1 ");
}

TEST_F(DeletionRunTest, TheOutcomeLineCountsDestroyedFailedAndUntouchedItems) {
  const Text gone = FakePath(u"w/gone"), kept = FakePath(u"w/kept"), swapped = FakePath(u"w/new");
  for (const Text& path : {gone, kept, swapped}) fs_.AddFileOfSize(path, 10);
  fs_.SetHeldOpen(kept, true);
  std::vector<platform::QueuedItem> items;
  for (const Text& path : {gone, kept, swapped}) {
    platform::QueuedItem item;
    item.path = path;
    item.anchor_length = platform::ParentAnchorLength(path);
    item.identity = fs_.IdentityOf(path);
    items.push_back(item);
  }
  // Listed as another object than the one that stands there now.
  items[2].identity.object += 1000;
  host_.SetQueuedItems(items);
  const RunResult result = Run(Context());
  EXPECT_EQ(result.items_destroyed, 1);
  EXPECT_EQ(result.items_failed, 1);
  EXPECT_EQ(result.items_untouched, 1);
  EXPECT_FALSE(fs_.Exists(gone));
  EXPECT_TRUE(fs_.Exists(kept));
  EXPECT_TRUE(fs_.Exists(swapped));
  const auto messages = host_.Messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().text, u"Destroyed: 1, failed: 1, left untouched: 1");
  EXPECT_EQ(messages.back().kind, MessageKind::kWarning);
}

TEST_F(DeletionRunTest, FinalPercentageIsWhatWasReallyWritten) {
  fs_.AddFileOfSize(FakePath(u"w/a"), 1000);
  fs_.AddFileOfSize(FakePath(u"w/b"), 3000);
  fs_.SetHeldOpen(FakePath(u"w/b"), true);
  QueueItems({FakePath(u"w/a"), FakePath(u"w/b")});
  const RunResult result = Run(Context());
  EXPECT_EQ(host_.LastStatus(), u"25.0 % // Error: 1 ");
  EXPECT_EQ(result.error_count, 1);
}

TEST_F(DeletionRunTest, AllFilesFailingShowsZeroPercentAndKeepsTheProgramOpen) {
  fs_.AddFileOfSize(FakePath(u"w/a"), 1000);
  fs_.AddFileOfSize(FakePath(u"w/b"), 1000);
  fs_.SetHeldOpen(FakePath(u"w/a"), true);
  fs_.SetHeldOpen(FakePath(u"w/b"), true);
  QueueItems({FakePath(u"w/a"), FakePath(u"w/b")});
  flags_.after_run.store(AfterRun::kEndProgram);
  Run(Context());
  EXPECT_EQ(host_.LastStatus(), u"0.0 % // Error: 2 ");
  const auto ends = host_.CallsOf(CallKind::kRunEnded);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].number, static_cast<int>(AfterRun::kNone));
  EXPECT_EQ(flags_.after_run.load(), AfterRun::kNone);
}

TEST_F(DeletionRunTest, ExitAfterAnErrorFreeRunComesAfterTheStatusLine) {
  fs_.AddFileOfSize(FakePath(u"w/a"), 10);
  QueueItems({FakePath(u"w/a")});
  flags_.after_run.store(AfterRun::kEndProgram);
  Run(Context());
  const auto calls = host_.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().kind, CallKind::kRunEnded);
  EXPECT_EQ(calls.back().number, static_cast<int>(AfterRun::kEndProgram));
  EXPECT_EQ(host_.Count(CallKind::kRunEnded), 1);
  EXPECT_EQ(flags_.after_run.load(), AfterRun::kNone);
}

TEST_F(DeletionRunTest, AfterRunActionStartsEvenAfterErrors) {
  fs_.AddFileOfSize(FakePath(u"w/a"), 10);
  fs_.SetHeldOpen(FakePath(u"w/a"), true);
  QueueItems({FakePath(u"w/a")});
  flags_.after_run.store(AfterRun::kStandby);
  Run(Context());
  const auto actions = host_.CallsOf(CallKind::kRunEnded);
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0].number, static_cast<int>(AfterRun::kStandby));
}

TEST_F(DeletionRunTest, StopAfterItemFinishesTheCurrentItemAndLeavesTheRest) {
  for (const char16_t* name : {u"w/a", u"w/b", u"w/c"}) fs_.AddFileOfSize(FakePath(name), 10);
  QueueItems({FakePath(u"w/a"), FakePath(u"w/b"), FakePath(u"w/c")});
  std::atomic<bool> stop{false};
  fs_.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kWrite) stop.store(true);  // Ctrl+C while the first item is written
  });
  flags_.after_run.store(AfterRun::kShutDown);
  RunContext context = Context();
  context.stop_after_item = &stop;
  context.files_in_flight = 1;  // one item after another (several in flight: FilesInFlight)
  const RunResult result = Run(context);
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(result.items_done, 1);
  EXPECT_EQ(result.items_left, 2);
  // Not reached because of the stop: left untouched.
  EXPECT_EQ(host_.MessageTexts().back(), u"Destroyed: 1, failed: 0, left untouched: 2");
  EXPECT_FALSE(fs_.Exists(FakePath(u"w/c")));
  EXPECT_TRUE(fs_.Exists(FakePath(u"w/a")));
  EXPECT_TRUE(fs_.Exists(FakePath(u"w/b")));
  const auto ends = host_.CallsOf(CallKind::kRunEnded);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].number, static_cast<int>(AfterRun::kNone));
  EXPECT_EQ(flags_.stop.load(), 1);
  EXPECT_TRUE(host_.CommandsEnabled());
}

TEST_F(DeletionRunTest, ConsoleCountdownTextAndWipingNotice) {
  fs_.AddFileOfSize(FakePath(u"w/a"), 10);
  QueueItems({FakePath(u"w/a")});
  RunContext context = Context(1, 1);
  context.countdown_text_id = lang::TextId::kConsoleCountdown;
  int wiping_calls = 0;
  std::size_t messages_at_wiping = 0;
  context.on_wiping = [&] {
    ++wiping_calls;
    messages_at_wiping = host_.Messages().size();
  };
  Run(context);
  EXPECT_EQ(host_.MessageTexts()[2], u"The begin in 1 sec. Abort with Ctrl+C or [Esc]");
  EXPECT_EQ(wiping_calls, 1);
  EXPECT_EQ(messages_at_wiping, 3u);  // before the Total line
}

TEST_F(DeletionRunTest, RunsOnAWorkerThreadOfItsOwnWithTheRecordingHost) {
  fs_.AddFileOfSize(FakePath(u"w/a"), 5000);
  QueueItems({FakePath(u"w/a")});
  clock_.SetStepPerReading(30);  // progress reports become due while the run writes
  std::atomic<bool> done{false};
  std::thread::id worker_id;
  RunResult result;
  RunRequest request;
  request.passes = 3;
  request.delay = 2;
  request.done = [&](const RunOutcome& outcome) {
    result = outcome.run;
    worker_id = std::this_thread::get_id();
    done.store(true);
  };
  ASSERT_EQ(session_.Start(host_, std::move(request)), StartResult::kStarted);
  while (session_.Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(done.load());
  EXPECT_NE(worker_id, std::this_thread::get_id());
  EXPECT_EQ(result.written_bytes, 15000u);
  EXPECT_FALSE(fs_.Exists(FakePath(u"w/a")));
  // The start disables the commands on the starting thread; the run speaks from its worker.
  const auto calls = host_.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front().kind, CallKind::kSetCommandsEnabled);
  EXPECT_EQ(calls.front().thread, std::this_thread::get_id());
  for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].thread, worker_id);
  EXPECT_GT(host_.Count(CallKind::kSetProgressText), 0);
}

// ---- a fault in every call ----

struct FaultCase {
  FsCall call;
  Text item;  // the item being wiped when the call failed (empty: before the wiping)
};

class RunFaultInjection : public ::testing::Test {
 protected:
  static void Build(FakeFileSystem& fs) {
    fs.AddFileOfSize(FakePath(u"w/F/a"), 3000);
    fs.AddFile(FakePath(u"w/F/b"), std::string_view());
    fs.AddFile(FakePath(u"x/outside.txt"), "outside");
    fs.AddLink(FakePath(u"w/c"), FakePath(u"x/outside.txt"));
    fs.AddFile(FakePath(u"w/unrelated.txt"), "unrelated");
  }
  static std::vector<Text> Items() {
    return {FakePath(u"w/F"), FakePath(u"w/F/a"), FakePath(u"w/F/b"), FakePath(u"w/c")};
  }
  // The errors one failed call must cause, given the item it hit.
  static int ExpectedErrors(const FaultCase& fault) {
    // Before the wiping only the total is read: a failure there changes the total, no item.
    if (fault.item.empty()) return 0;
    const Text folder = FakePath(u"w/F");
    const bool is_folder = fault.item == folder;
    int base = 0;
    switch (fault.call.op) {
      case FsOp::kInspect:  // what the entry is now cannot be told: it is left as it is
      case FsOp::kOpenForOverwrite:
      case FsOp::kWrite:
      case FsOp::kFlush:
      case FsOp::kCurrentSize:  // growth cannot be ruled out: the file is kept
      case FsOp::kListStreams:  // named streams cannot be ruled out: the item is kept
      case FsOp::kOpenFolderForStamp:
      case FsOp::kDeleteFile:
      case FsOp::kRemoveFolder:
        base = 1;
        break;
      case FsOp::kClose:
        base = is_folder ? 0 : 1;
        break;  // a folder handle only stamps
      default:
        base = 0;
        break;  // renames retry, dates are cosmetic
    }
    // A file left inside the folder keeps the folder from being removed.
    const bool inside =
        fault.item.size() > folder.size() && fault.item.substr(0, folder.size()) == folder;
    return base + (inside && base > 0 ? 1 : 0);
  }
  static RunResult RunOn(FakeFileSystem& fs, RecordingHost& host, FakeClock& clock) {
    RunFlags flags;
    RunContext context(host, fs, clock, flags);
    context.passes = 2;
    context.delay = 0;
    host.SetItems(Items(), [&](TextView path) { return fs.IdentityOf(path); });
    RunResult result;
    testing::RunOnFreshThread([&] { result = RunDeletion(context); });
    return result;
  }
};

TEST_F(RunFaultInjection, EachCallFailingInTurnCountsExactlyAndTouchesNothingElse) {
  int clean_calls = 0;
  {
    FakeFileSystem fs;
    RecordingHost host;
    FakeClock clock;
    Build(fs);
    ASSERT_EQ(RunOn(fs, host, clock).error_count, 0);
    clean_calls = fs.CallCount();
    ASSERT_EQ(fs.Children(FakePath(u"w")), std::vector<Text>{FakePath(u"w/unrelated.txt")});
  }
  ASSERT_GT(clean_calls, 30);
  for (int n = 1; n <= clean_calls; ++n) {
    FakeFileSystem fs;
    RecordingHost host;
    FakeClock clock;
    Build(fs);
    const auto before = fs.TakeSnapshot();
    fs.FailNthCall(n, FakeError::kIo);
    const RunResult result = RunOn(fs, host, clock);
    const auto calls = fs.Calls();
    ASSERT_GE(calls.size(), static_cast<std::size_t>(n));
    FaultCase fault{calls[n - 1], {}};
    // The first look at each item reads the total; the wiping starts after them.
    const int total_looks = static_cast<int>(Items().size());
    for (int i = n - 1; i >= total_looks; --i) {
      if (calls[i].op == FsOp::kInspect) {
        fault.item = calls[i].path;
        break;
      }
    }
    SCOPED_TRACE(std::string("call ") + std::to_string(n) + " " + testing::FsOpName(fault.call.op) +
                 " on " + testing::Narrow(fault.call.path));
    EXPECT_EQ(result.error_count, ExpectedErrors(fault));
    // One line per error, besides the outcome line, which is a warning when an item did not go.
    const bool all_gone = result.items_failed == 0 && result.items_untouched == 0;
    EXPECT_EQ(all_gone, result.error_count == 0);
    EXPECT_EQ(static_cast<int>(host.MessagesOfKind(MessageKind::kError).size() +
                               host.MessagesOfKind(MessageKind::kWarning).size()) -
                  (all_gone ? 0 : 1),
              result.error_count);
    EXPECT_EQ(fs.OpenHandles(), 0);
    // Nothing outside the list changed.
    for (const Text& path :
         {FakePath(u"x"), FakePath(u"x/outside.txt"), FakePath(u"w/unrelated.txt")}) {
      EXPECT_EQ(fs.EntryAt(path), before.at(path)) << testing::Narrow(path);
    }
    // What is left besides them is a listed item that failed (under its name or a random one).
    for (const auto& [path, entry] : fs.TakeSnapshot()) {
      if (before.count(path) && (path == FakePath(u"x") || path == FakePath(u"x/outside.txt") ||
                                 path == FakePath(u"w/unrelated.txt") || path == FakePath(u"w"))) {
        continue;
      }
      EXPECT_GT(result.error_count, 0) << "left behind without an error: " << testing::Narrow(path);
    }
  }
}

}  // namespace
}  // namespace nulvane::engine
