// The run session: one worker at a time (a fill's folder choice included), a start that cannot
// start puts everything back, and closing stops a fill and waits for its clean-up.
#include "engine/run_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>

#include "support/fake_clock.h"
#include "support/fake_file_system.h"
#include "support/recording_host.h"

namespace nulvane::engine {
namespace {

using testing::FakeClock;
using testing::FakeFileSystem;
using testing::FakePath;
using testing::FsOp;
using testing::RecordingHost;
using CallKind = testing::RecordingHost::CallKind;

void WaitUntilIdle(const RunSession& session) {
  while (session.Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class RunSessionTest : public ::testing::Test {
 protected:
  RunSessionTest() {
    fs_.AddFileOfSize(doomed_, 100);
    fs_.AddFolder(chosen_);
  }
  RunRequest Deletion(int delay = 0) {
    host_.SetItems({doomed_}, [&](TextView path) { return fs_.IdentityOf(path); });
    RunRequest request;
    request.passes = 1;
    request.delay = delay;
    return request;
  }
  RunRequest Fill(AfterRun after_run = AfterRun::kNone) {
    RunRequest request;
    request.kind = RunKind::kFill;
    request.after_run = after_run;
    request.choose_folder = [this] { return std::optional<Text>(chosen_); };
    return request;
  }

  const Text doomed_ = FakePath(u"w/doomed");
  const Text chosen_ = FakePath(u"vol/Data");
  FakeFileSystem fs_;
  RecordingHost host_;
  FakeClock clock_;
  RunSession session_{fs_, clock_};
};

TEST_F(RunSessionTest, ASecondStartWhileARunWorksIsRefusedAndTouchesNothing) {
  std::atomic<bool> tried{false};
  // The first run holds in its countdown until the second start has been tried.
  clock_.OnSleep([&](int) {
    while (!tried.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_EQ(session_.Start(host_, Deletion(1)), StartResult::kStarted);
  RecordingHost second_host;
  bool asked = false;
  RunRequest fill = Fill();
  fill.choose_folder = [&] {
    asked = true;
    return std::optional<Text>(chosen_);
  };
  EXPECT_EQ(session_.Start(second_host, std::move(fill)), StartResult::kBusy);
  EXPECT_EQ(session_.Start(second_host, Deletion()), StartResult::kBusy);
  tried.store(true);
  WaitUntilIdle(session_);
  EXPECT_FALSE(asked) << "no folder is asked for while a run works";
  EXPECT_TRUE(second_host.Calls().empty());
  EXPECT_EQ(fs_.CountOf(FsOp::kCreateFolder), 0);
  EXPECT_FALSE(fs_.Exists(doomed_));
  // Idle again: the next start goes ahead.
  fs_.SetCapacity(100000);
  EXPECT_EQ(session_.Start(host_, Fill()), StartResult::kStarted);
  WaitUntilIdle(session_);
  EXPECT_TRUE(fs_.Children(chosen_).empty());
}

TEST_F(RunSessionTest, NoStartWhileAFillsFolderIsChosenAndACancelledChoiceGivesTheSessionBack) {
  RunRequest fill = Fill();
  StartResult during_choice = StartResult::kStarted;
  fill.choose_folder = [&] {
    during_choice = session_.Start(host_, Deletion());
    return std::optional<Text>();
  };
  EXPECT_EQ(session_.Start(host_, std::move(fill)), StartResult::kNothingChosen);
  EXPECT_EQ(during_choice, StartResult::kBusy);
  EXPECT_FALSE(session_.Active());
  EXPECT_TRUE(host_.Calls().empty()) << "a fill that never started says nothing";
  EXPECT_TRUE(fs_.Exists(doomed_));
  EXPECT_EQ(session_.Start(host_, Deletion()), StartResult::kStarted);
  WaitUntilIdle(session_);
  EXPECT_FALSE(fs_.Exists(doomed_));
}

TEST_F(RunSessionTest, AWorkerThatCannotStartPutsEverythingBack) {
  session_.SetWorkerStarter([](std::function<void()>) {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  });
  RunRequest request = Deletion();
  request.after_run = AfterRun::kShutDown;
  EXPECT_EQ(session_.Start(host_, std::move(request)), StartResult::kNoThread);
  EXPECT_FALSE(session_.StartFailure().empty());
  EXPECT_FALSE(session_.Active());
  EXPECT_TRUE(host_.CommandsEnabled());
  EXPECT_EQ(session_.flags().after_run.load(), AfterRun::kNone);
  EXPECT_TRUE(fs_.Exists(doomed_));
}

TEST_F(RunSessionTest, StoppingAFillWaitsForItsCleanUpAndDropsItsAfterRunStep) {
  fs_.SetCapacity(50000000);
  std::atomic<bool> writing{false};
  fs_.SetObserver([&](const testing::FsCall& call) {
    if (call.op != FsOp::kWrite) return;
    writing.store(true);
    // Slow enough that the stop comes while the fill writes.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_EQ(session_.Start(host_, Fill(AfterRun::kShutDown)), StartResult::kStarted);
  while (!writing.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(session_.StopFillAndWait(
      [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return true;
      },
      60000));
  EXPECT_FALSE(session_.FillActive());
  EXPECT_TRUE(fs_.Children(chosen_).empty());
  const auto ends = host_.CallsOf(CallKind::kRunEnded);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].number, static_cast<int>(AfterRun::kNone));
}

}  // namespace
}  // namespace nulvane::engine
