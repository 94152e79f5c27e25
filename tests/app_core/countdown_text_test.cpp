// The countdown dialog's texts by after-run action, from the built-in table in English and
// German.
#include "app/countdown_text.h"

#include <gtest/gtest.h>

namespace nulvane::app {
namespace {

std::string Utf8(TextView text) { return platform::TextToUtf8(text); }

class CountdownTextTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(lang::LoadLanguageTable()); }
  void SetUp() override {
    saved_ = lang::Table().CurrentLanguage();
    lang::Table().SetCurrentLanguage(lang::kDefaultSlot);
  }
  void TearDown() override { lang::Table().SetCurrentLanguage(saved_); }
  int saved_ = lang::kDefaultSlot;
};

TEST_F(CountdownTextTest, ShutDownLabelCountsDownToZero) {
  const CountdownTexts texts = CountdownTextsFor(lang::Table(), 1);
  EXPECT_EQ(texts.mode, kCountdownShutDown);
  EXPECT_EQ(Utf8(texts.title), "PC shutdown");
  EXPECT_EQ(Utf8(texts.ok), "OK");
  EXPECT_EQ(Utf8(texts.cancel), "Cancel");
  EXPECT_EQ(Utf8(CountdownLabel(texts, kCountdownSeconds)), "PC Shut Down in 10 sec.");
  EXPECT_EQ(Utf8(CountdownLabel(texts, 0)), "PC Shut Down in 0 sec.");
}

TEST_F(CountdownTextTest, StandbyModesKeepTheirCodeAndOtherCodesShutDown) {
  for (int action : {2, 3}) {
    const CountdownTexts texts = CountdownTextsFor(lang::Table(), action);
    EXPECT_EQ(texts.mode, action);
    EXPECT_EQ(Utf8(texts.title), "PC Standby");
    EXPECT_EQ(Utf8(CountdownLabel(texts, 7)), "PC Standby in 7 sec.");
  }
  for (int action : {0, 4, -1}) {
    const CountdownTexts texts = CountdownTextsFor(lang::Table(), action);
    EXPECT_EQ(texts.mode, kCountdownShutDown) << action;
    EXPECT_EQ(Utf8(texts.title), "PC shutdown") << action;
  }
}

TEST_F(CountdownTextTest, GermanTextsComeFromTheCurrentLanguage) {
  lang::Table().SetCurrentLanguage(0);
  const CountdownTexts shut_down = CountdownTextsFor(lang::Table(), 1);
  EXPECT_EQ(Utf8(shut_down.title), "PC Herunterfahren");
  EXPECT_EQ(Utf8(CountdownLabel(shut_down, kCountdownSeconds)), "PC Herunterfahren in 10 Sek.");
  const CountdownTexts standby = CountdownTextsFor(lang::Table(), 3);
  EXPECT_EQ(Utf8(standby.title), "PC Standby");
  EXPECT_EQ(Utf8(CountdownLabel(standby, 1)), "PC Standby in 1 Sek.");
  EXPECT_EQ(Utf8(standby.ok), "OK");
  EXPECT_EQ(Utf8(standby.cancel), "Abbrechen");
}

}  // namespace
}  // namespace nulvane::app
