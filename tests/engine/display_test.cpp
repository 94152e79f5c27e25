// Durations as the user reads them, and the throttled progress report.
#include "engine/display.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/fake_clock.h"
#include "support/recording_host.h"

namespace nulvane::engine {
namespace {

using testing::FakeClock;
using testing::RecordingHost;

TEST(FormatDuration, EnglishExamples) {
  EXPECT_EQ(FormatDuration(0.4), u"< 1 sec.");
  EXPECT_EQ(FormatDuration(59.9), u"59 sec.");
  EXPECT_EQ(FormatDuration(60), u"1 min., 0 sec.");
  EXPECT_EQ(FormatDuration(3725), u"62 min., 5 sec.");
  // No hour unit.
  EXPECT_EQ(FormatDuration(7200), u"120 min., 0 sec.");
}

TEST(FormatDuration, EstimatesThatAreNoNumberOfSecondsShowAsUnknown) {
  EXPECT_EQ(FormatDuration(std::nan("")), u"?");
  EXPECT_EQ(FormatDuration(std::numeric_limits<double>::infinity()), u"?");
  EXPECT_EQ(FormatDuration(-1), u"?");
  EXPECT_EQ(FormatDuration(1e300), u"?");
}

class ProgressReport : public ::testing::Test {
 protected:
  FakeClock clock_{100000};
  RecordingHost host_;
  ProgressDisplay progress_{host_, clock_};
};

TEST_F(ProgressReport, ShowsAtMostOnceInAHundredMilliseconds) {
  progress_.Start();
  clock_.Advance(50);
  EXPECT_FALSE(progress_.Report(1, 10));
  clock_.Advance(51);  // 101 ms after the start
  EXPECT_TRUE(progress_.Report(2, 10));
  clock_.Advance(100);  // exactly 100 ms after the last shown report
  EXPECT_FALSE(progress_.Report(3, 10));
  clock_.Advance(1);
  EXPECT_TRUE(progress_.Report(4, 10));
  EXPECT_EQ(host_.Count(RecordingHost::CallKind::kSetStatusText), 2);
  EXPECT_EQ(host_.Count(RecordingHost::CallKind::kSetProgressText), 2);
  EXPECT_EQ(host_.Count(RecordingHost::CallKind::kSetTitle), 2);
}

TEST_F(ProgressReport, WritesStatusProgressAndTitleTexts) {
  progress_.Start();
  clock_.Advance(4000);
  ASSERT_TRUE(progress_.Report(1275000, 3000000));
  const Text status =
      u"42.5 % " + lang::FormatByteSize(1275000) + u" of " + lang::FormatByteSize(3000000);
  EXPECT_EQ(host_.LastStatus(), status);
  // 4 s for 42.5 %: 5.4 s to go.
  EXPECT_EQ(host_.LastProgress(), u"Remaining: 5 sec. || Elapsed: 4 sec.\n" + status);
  EXPECT_EQ(host_.LastTitle(), u"[42.5 %] Nulvane 4.21");
  // The progress text is set before the status bar, the status bar before the title.
  const auto calls = host_.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].kind, RecordingHost::CallKind::kSetProgressText);
  EXPECT_EQ(calls[1].kind, RecordingHost::CallKind::kSetStatusText);
  EXPECT_EQ(calls[2].kind, RecordingHost::CallKind::kSetTitle);
}

TEST_F(ProgressReport, AnEmptyTargetShowsAsCompleteNotAsNaN) {
  progress_.Start();
  clock_.Advance(200);
  ASSERT_TRUE(progress_.Report(0, 0));
  EXPECT_EQ(host_.LastStatus().substr(0, 8), u"100.0 % ");
  EXPECT_EQ(host_.LastTitle().find(u"nan"), Text::npos);
}

TEST_F(ProgressReport, NothingDoneYetShowsAnUnknownRemainingTime) {
  progress_.Start();
  clock_.Advance(200);
  ASSERT_TRUE(progress_.Report(0, 1000));
  EXPECT_EQ(host_.LastProgress().substr(0, 14), u"Remaining: ? |");
  EXPECT_EQ(host_.LastStatus().substr(0, 6), u"0.0 % ");
}

TEST_F(ProgressReport, ThrottleAndElapsedTimeSurviveTheClockWrapAround) {
  clock_.Set(0xFFFFFF00u);
  progress_.Start();
  clock_.Advance(0x100 + 1500);  // wraps past zero; 1.756 s later
  ASSERT_TRUE(progress_.Report(5, 10));
  EXPECT_NE(host_.LastProgress().find(u"Elapsed: 1 sec."), Text::npos);
}

}  // namespace
}  // namespace nulvane::engine
