// The one mnemonic rule: what the window's labels, the menu bar and the console's lines drop.
#include "lang/mnemonic.h"

#include <gtest/gtest.h>

namespace nulvane::lang {
namespace {

TEST(WithoutMnemonic, DropsTheMarksAndKeepsLiteralAmpersands) {
  EXPECT_EQ(WithoutMnemonic(u"&Open"), u"Open");
  EXPECT_EQ(WithoutMnemonic(u"Fish && &Chips"), u"Fish & Chips");
  EXPECT_EQ(WithoutMnemonic(u"End&"), u"End");
  EXPECT_EQ(WithoutMnemonic(u"Plain"), u"Plain");
}

TEST(MnemonicCharacter, IsTheFirstMarkedCharacterNeverALiteralAmpersand) {
  EXPECT_EQ(MnemonicCharacter(u"Delete &Delay"), u'D');
  EXPECT_EQ(MnemonicCharacter(u"Fish && &Chips"), u'C');
  EXPECT_EQ(MnemonicCharacter(u"A && B"), 0);
  EXPECT_EQ(MnemonicCharacter(u"End&"), 0);
}

}  // namespace
}  // namespace nulvane::lang
