#include "engine_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/wipe.h"
#include "lang/language_table.h"

namespace nulvane::testing {

namespace {

// Every engine text comes from the built-in table, English (the default language).
class LanguageEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(lang::LoadLanguageTable());
    lang::Table().SetCurrentLanguage(lang::kDefaultSlot);
  }
};

[[maybe_unused]] ::testing::Environment* const kLanguage =
    ::testing::AddGlobalTestEnvironment(new LanguageEnvironment);

}  // namespace

void RunOnFreshThread(const std::function<void()>& work) {
  std::thread thread(work);
  thread.join();
}

std::string Narrow(TextView text) { return platform::TextToUtf8(text); }

bool AllZero(const std::vector<unsigned char>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; });
}

}  // namespace nulvane::testing
