#include "lang/text_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "lang/language_table.h"

namespace nulvane::lang {

extern const unsigned char kLanguageTableBlob[];
extern const std::size_t kLanguageTableBlobSize;

namespace {

constexpr int kGermanSlot = 0;
constexpr int kEnglishSlot = kDefaultSlot;

class BuiltInTableNames : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(table_.LoadBlob(kLanguageTableBlob, kLanguageTableBlobSize));
  }
  LanguageTable table_;
};

bool IsNamed(int id) {
  return std::any_of(std::begin(kNamedTextIds), std::end(kNamedTextIds),
                     [id](TextId named) { return static_cast<int>(named) == id; });
}

TEST_F(BuiltInTableNames, EveryNamedIdHasItsOwnNumberAndAnEnglishAndAGermanText) {
  int previous = -1;
  for (const TextId id : kNamedTextIds) {
    const int number = static_cast<int>(id);
    EXPECT_GT(number, previous) << "two names for one id, or out of table order";
    previous = number;
    const char16_t* english = table_.GetSlotText(kEnglishSlot, number);
    const char16_t* german = table_.GetSlotText(kGermanSlot, number);
    EXPECT_TRUE(english && *english) << "no English text for id " << number;
    EXPECT_TRUE(german && *german) << "no German text for id " << number;
  }
}

TEST_F(BuiltInTableNames, EveryIdTheEnglishSectionHoldsHasAName) {
  // Id 0 is where the header lines without a number ("TranslatorName=") land: no text.
  for (int id = 1; id < kTextsPerSlot; ++id) {
    if (table_.GetSlotText(kEnglishSlot, id)) {
      EXPECT_TRUE(IsNamed(id)) << "unnamed id " << id;
    }
  }
}

TEST_F(BuiltInTableNames, EveryNamedGeneralIdHasItsText) {
  int previous = -1;
  for (const GeneralTextId id : kNamedGeneralTextIds) {
    const int number = static_cast<int>(id);
    EXPECT_GT(number, previous) << "two names for one general id";
    previous = number;
    const char16_t* text = table_.GetGeneralText(id);
    EXPECT_TRUE(text && *text) << "no general text for id " << number;
  }
  EXPECT_EQ(TextView(table_.GetGeneralText(GeneralTextId::kTitle)).substr(0, 8), u"Nulvane ");
}

}  // namespace
}  // namespace nulvane::lang
