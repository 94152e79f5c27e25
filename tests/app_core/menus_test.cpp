// The menus' contents, the help text and the link addresses, in English and German, from the
// built-in table; the language menu's slot rules also from a small table of odd slots.
#include "app/menus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nulvane::app {
namespace {

using lang::LanguageTable;
using lang::Table;

std::string Utf8(TextView text) { return platform::TextToUtf8(text); }

// Runs the built-in table in one language and puts the previous language back.
class BuiltInTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(lang::LoadLanguageTable()); }
  void SetUp() override { saved_ = Table().CurrentLanguage(); }
  void TearDown() override { Table().SetCurrentLanguage(saved_); }
  static const LanguageTable& InLanguage(int slot) {
    Table().SetCurrentLanguage(slot);
    return Table();
  }
  int saved_ = lang::kDefaultSlot;
};

constexpr int kGerman = 0;
constexpr int kEnglish = 1;

std::vector<int> CheckedIds(const MenuModel& menu) {
  std::vector<int> ids;
  for (const MenuEntry& entry : menu) {
    if (entry.checked) ids.push_back(entry.id);
  }
  return ids;
}

TEST_F(BuiltInTable, OverwriteMenuOffersNineteenCountsAndChecksOnlyTheStoredOne) {
  const MenuModel english = OverwriteMenu(InLanguage(kEnglish), 35);
  ASSERT_EQ(english.size(), 19u);
  const std::vector<int> expected_ids{1,  2,  3,  4,  5,  6,  7,  8,  9, 11,
                                      13, 15, 17, 20, 23, 26, 29, 32, 35};
  for (std::size_t i = 0; i < english.size(); ++i) {
    EXPECT_EQ(english[i].id, expected_ids[i]);
    EXPECT_EQ(english[i].kind, MenuEntry::Kind::kItem);
    EXPECT_FALSE(english[i].grayed);
  }
  EXPECT_EQ(english.front().text, u"&Overwrite 1 times");
  EXPECT_EQ(english.back().text, u"&Overwrite 35 times");
  EXPECT_EQ(CheckedIds(english), std::vector<int>{35});

  const MenuModel german = OverwriteMenu(InLanguage(kGerman), 11);
  EXPECT_EQ(german[9].text, u"11 mal &schreiben");
  EXPECT_EQ(CheckedIds(german), std::vector<int>{11});

  // The default 0, and a count the menu does not offer, check nothing.
  EXPECT_TRUE(CheckedIds(OverwriteMenu(Table(), 0)).empty());
  EXPECT_TRUE(CheckedIds(OverwriteMenu(Table(), 10)).empty());
}

TEST_F(BuiltInTable, DelayMenuOffersZeroToNineWithIdsFromOneThousand) {
  const MenuModel english = DelayMenu(InLanguage(kEnglish), 3);
  ASSERT_EQ(english.size(), 10u);
  for (int d = 0; d < 10; ++d) EXPECT_EQ(english[d].id, 1000 + d);
  EXPECT_EQ(english[0].text, u"Delete &Delay 0 sec");
  EXPECT_EQ(english[9].text, u"Delete &Delay 9 sec");
  EXPECT_EQ(CheckedIds(english), std::vector<int>{1003});

  const MenuModel german = DelayMenu(InLanguage(kGerman), 0);
  EXPECT_EQ(german[5].text, u"L\u00F6sch-&Verz\u00F6gerung 5 Sek");
  EXPECT_EQ(CheckedIds(german), std::vector<int>{1000});
  // A stored delay of 10 lies outside the menu: nothing is checked.
  EXPECT_TRUE(CheckedIds(DelayMenu(Table(), 10)).empty());
}

TEST_F(BuiltInTable, DeletePlusPopupAndTheMenuBarMenu) {
  const MenuModel plus = DeletePlusMenu(InLanguage(kEnglish));
  ASSERT_EQ(plus.size(), 4u);
  EXPECT_EQ(plus[0].id, 1048);
  EXPECT_EQ(plus[0].text, u"end the program");
  EXPECT_EQ(plus[1].id, 32803);
  EXPECT_EQ(plus[1].text, u"PC shutdown");
  EXPECT_EQ(plus[2].id, 32804);
  EXPECT_EQ(plus[2].text, u"PC Standby");
  EXPECT_EQ(plus[3].id, 32810);
  EXPECT_EQ(plus[3].text, u"end the program + PC Standby");

  const MenuModel bar = MenuBarMenu(Table(), false);
  ASSERT_EQ(bar.size(), 1u);
  EXPECT_EQ(bar[0].kind, MenuEntry::Kind::kSubmenu);
  EXPECT_EQ(bar[0].text, u"&Nulvane");
  const MenuModel& entries = bar[0].submenu;
  ASSERT_EQ(entries.size(), 18u);
  struct Expected {
    int id;
    const char16_t* text;  // null: a separator
  };
  const std::vector<Expected> expected{{32776, u"Info"},
                                       {0, nullptr},
                                       {32826, u"Add files…"},
                                       {32827, u"Add folder…"},
                                       {32828, u"Verify after overwriting"},
                                       {0, nullptr},
                                       {32791, u"Fill the free space with null"},
                                       {32805, u"Fill the free space with null + "},
                                       {0, nullptr},
                                       {32797, u"Add to Send-To Shell-Context Menu"},
                                       {32798, u"Remove from Send-To Shell-Context Menu"},
                                       {32799, u"Edit Send-To"},
                                       {0, nullptr},
                                       {32794, u"FAQ"},
                                       {32793, u"Donate"},
                                       {32795, u"Nulvane Homepage"},
                                       {0, nullptr},
                                       {2, u"Exit"}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    if (!expected[i].text) {
      EXPECT_EQ(entries[i].kind, MenuEntry::Kind::kSeparator);
      continue;
    }
    EXPECT_EQ(entries[i].id, expected[i].id);
    EXPECT_EQ(entries[i].text, expected[i].text);
    EXPECT_FALSE(entries[i].checked);
  }
  EXPECT_EQ(entries[7].kind, MenuEntry::Kind::kSubmenu);
  const MenuModel& fill = entries[7].submenu;
  ASSERT_EQ(fill.size(), 4u);
  EXPECT_EQ(fill[0].id, 32806);
  EXPECT_EQ(fill[1].id, 32807);
  EXPECT_EQ(fill[2].id, 32808);
  EXPECT_EQ(fill[3].id, 32809);
  EXPECT_EQ(fill[3].text, u"end the program + PC Standby");

  // German, with the Send-To shortcut present: only its entry is checked.
  const MenuModel german = MenuBarMenu(InLanguage(kGerman), true);
  const MenuModel& de = german[0].submenu;
  EXPECT_EQ(de[2].text, u"Dateien hinzuf\u00FCgen\u2026");
  EXPECT_EQ(de[4].text, u"Nach dem \u00DCberschreiben pr\u00FCfen");
  EXPECT_EQ(de[6].text, u"Freien Bereich nullen");
  EXPECT_EQ(de[7].text, u"Freien Bereich nullen + ");
  EXPECT_EQ(de[7].submenu[3].text, u"Programm Beenden + PC Standby");
  EXPECT_EQ(de[9].text, u"Hinzuf\u00FCgen zum Senden-An Shell-Kontext-Men\u00FC");
  EXPECT_EQ(de[14].text, u"Spenden");
  EXPECT_EQ(de[17].text, u"Beenden");
  EXPECT_EQ(CheckedIds(de), std::vector<int>{32797});
  EXPECT_EQ(DeletePlusMenu(Table())[1].text, u"PC Herunterfahren");
}

TEST_F(BuiltInTable, LanguageMenuGraysTheCurrentSlotAndEndsWithTranslate) {
  const MenuModel menu = LanguageMenu(InLanguage(kGerman));
  ASSERT_EQ(menu.size(), static_cast<std::size_t>(Table().SlotCount()) + 2 - 1)
      << "every named slot, a separator and Translate (the closing separator opens no slot)";
  EXPECT_EQ(menu[0].id, 10);
  EXPECT_EQ(menu[0].text, u"Deutsch\tGerman");
  EXPECT_TRUE(menu[0].grayed);
  EXPECT_EQ(menu[1].id, 11);
  EXPECT_FALSE(menu[1].grayed);
  EXPECT_FALSE(menu[0].checked) << "the current language is grayed, not checked";
  EXPECT_EQ(menu[menu.size() - 2].kind, MenuEntry::Kind::kSeparator);
  EXPECT_EQ(menu.back().id, 1000);
  EXPECT_EQ(menu.back().text, u"Translate");

  const MenuModel english = LanguageMenu(InLanguage(kEnglish));
  EXPECT_FALSE(english[0].grayed);
  EXPECT_TRUE(english[1].grayed);
}

std::vector<unsigned char> Utf16Bytes(TextView text) {
  std::vector<unsigned char> bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  return bytes;
}

TEST(LanguageMenu, SkipsSlotsWithShortOrNoNamesAndKeepsSlotIndexAsId) {
  // Slots: 0 "Deutsch\tGerman", 1 "Short" (5 characters), 2 unnamed, 3 "Espa\u00F1ol".
  const std::vector<unsigned char> bytes = Utf16Bytes(
      u"\uFEFFfree\r\n##\r\n21=x\r\n##\r\nf2\r\n##\r\nf3\r\n"
      u"##=Deutsch\tGerman\r\n\r\n4=a\r\n##=Short\r\n\r\n4=b\r\n##\r\n4=c\r\n"
      u"##=Espa\u00F1ol\r\n\r\n4=d\r\n");
  LanguageTable table;
  table.LoadText(bytes.data(), bytes.size());
  ASSERT_EQ(table.SlotCount(), 4);
  table.SetCurrentLanguage(3);
  const MenuModel menu = LanguageMenu(table);
  ASSERT_EQ(menu.size(), 4u);
  EXPECT_EQ(menu[0].id, 10);
  EXPECT_FALSE(menu[0].grayed);
  EXPECT_EQ(menu[1].id, 13);
  EXPECT_EQ(menu[1].text, u"Espa\u00F1ol");
  EXPECT_TRUE(menu[1].grayed);
  EXPECT_EQ(menu[3].id, 1000);
}

TEST_F(BuiltInTable, HelpTextPairsLinesWithAnEmptyLineBetweenPairs) {
  const Text english = HelpText(InLanguage(kEnglish));
  EXPECT_EQ(english,
            u"Reset:\r\nClear the List Contents (not delete the files).\r\n\r\n"
            u"Delete:\r\nOverwrite folder and files with NULL and delete.\r\n\r\n"
            u"Overwrite X times:\r\nOverwrite the data X times with NULL.\r\n\r\n"
            u"Delete Delay X-sec.:\r\nAt this time you can stop the erasing procedure with the "
            u"key [ESC].\r\n\r\n"
            u"Fill the free space with null:\r\nThis will remove the standard deletion tracks "
            u"from the harddrive.\r\n\r\n"
            u"Keys:\r\n" +
                Text(InLanguage(kEnglish).GetText(183)) + u"\r\n\r\nLists:\r\n" +
                Text(InLanguage(kEnglish).GetText(223)) +
                u"\r\n\r\nVerify after overwriting (menu Nulvane):\r\n" +
                Text(InLanguage(kEnglish).GetText(225)) + u"\r\n")
      << Utf8(english);
  // The keys name the ones a mouse-free user needs.
  for (const TextView key : {u"F10", u"Alt+N", u"Alt+R", u"Alt+D", u"Alt+O", u"Tab", u"Esc", u"Del",
                             u"Insert", u"Ctrl+O", u"Ctrl+Shift+O", u"Shift+F10", u"Ctrl+C"}) {
    EXPECT_NE(english.find(key), Text::npos) << Utf8(Text(key));
  }
  const Text german = HelpText(InLanguage(kGerman));
  const TextView german_start =
      u"Reset:\r\nL\u00F6scht nur den Inhalt der Liste (kein Datenl\u00F6schen)!\r\n\r\n"
      u"L\u00F6schen:\r\n";
  EXPECT_EQ(TextView(german).substr(0, german_start.size()), german_start) << Utf8(german);
  EXPECT_NE(german.find(u"\r\n\r\nTasten:\r\nAlt oder F10"), Text::npos) << Utf8(german);
}

TEST_F(BuiltInTable, LinkAddressesFollowTheLanguageAndCarryNoBlanks) {
  const LanguageTable& english = InLanguage(kEnglish);
  EXPECT_EQ(HomeAddress(english), u"https://nulvane.example/");
  EXPECT_EQ(FaqAddress(english), u"https://nulvane.example/?faq-Nulvane&faq=0");
  EXPECT_EQ(HomePageAddress(english), u"https://nulvane.example/?seite=Microsoft/Nulvane");
  EXPECT_EQ(DonateAddress(english),
            u"https://nulvane.example?paypal&item_name=FreewareQuorvellprogramNulvane");
  const LanguageTable& german = InLanguage(kGerman);
  EXPECT_EQ(HomeAddress(german), u"https://nulvane.example/de/");
  EXPECT_EQ(FaqAddress(german), u"https://nulvane.example/de/?faq-Nulvane&faq=0");
  EXPECT_EQ(HomePageAddress(german), u"https://nulvane.example/de/?seite=Microsoft/Nulvane");
  EXPECT_EQ(DonateAddress(german), DonateAddress(english)) << "the donation site has no German";
}

TEST(LinkAddresses, UmlautBecomesOeBlanksGoAndAMissingBaseGivesNothing) {
  const std::vector<unsigned char> bytes = Utf16Bytes(
      u"\uFEFFfree\r\n##\r\n21=https://sch\u00F6n.example/a b\r\n"
      u"24=https://sch\u00F6n.example/ x/\r\n##\r\nf2\r\n##\r\nf3\r\n"
      u"##=Deutsch\tGerman\r\n\r\n4=a\r\n##=English\tEnglish\r\n\r\n4=b\r\n");
  LanguageTable table;
  table.LoadText(bytes.data(), bytes.size());
  table.SetCurrentLanguage(kEnglish);
  EXPECT_EQ(HomePageAddress(table), u"https://schoen.example/x/?seite=Microsoft/Nulvane");
  EXPECT_EQ(DonateAddress(table),
            u"https://schoen.example/ab?paypal&item_name=FreewareQuorvellprogramNulvane");
  // The link button opens the home address as the table has it.
  EXPECT_EQ(HomeAddress(table), u"https://sch\u00F6n.example/ x/");
  table.SetCurrentLanguage(kGerman);  // the German address (23) is missing
  EXPECT_TRUE(HomeAddress(table).empty());
  EXPECT_TRUE(FaqAddress(table).empty());
  EXPECT_TRUE(HomePageAddress(table).empty());
}

}  // namespace
}  // namespace nulvane::app

namespace nulvane::app {
namespace {

TEST(ClampOverwriteLabelCount, ShowsOneToThirtyFiveNotTheRunsTenPassLimit) {
  EXPECT_EQ(ClampOverwriteLabelCount(0), 1);
  EXPECT_EQ(ClampOverwriteLabelCount(-4), 1);
  EXPECT_EQ(ClampOverwriteLabelCount(20), 20);
  EXPECT_EQ(ClampOverwriteLabelCount(35), 35);
  EXPECT_EQ(ClampOverwriteLabelCount(36), 35);
}

}  // namespace
}  // namespace nulvane::app
