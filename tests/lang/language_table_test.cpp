#include "lang/language_table.h"

#include "lang/lzari.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "../../tools/lzari/lzari_encoder.h"
#include "platform/text.h"

namespace nulvane::lang {

extern const unsigned char kLanguageTableBlob[];
extern const std::size_t kLanguageTableBlobSize;

namespace {

std::vector<unsigned char> Bytes(TextView text) {
  std::vector<unsigned char> bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<unsigned char>(c & 0xFF));
    bytes.push_back(static_cast<unsigned char>(c >> 8));
  }
  return bytes;
}

void Load(LanguageTable& table, TextView text) {
  const std::vector<unsigned char> bytes = Bytes(text);
  table.LoadText(bytes.data(), bytes.size());
}

TextView View(const char16_t* text) { return text ? TextView(text) : TextView(u"<null>"); }

// A small table in the program's format: block 0, general block, two free blocks, German,
// English, and the closing separator.
const char16_t kSmallTable[] =
    u"\uFEFFfree text\r\n##\r\n19=Nulvane 4.21\r\n25=a\\r\\nb\\x\r\n300=ignored\r\n"
    u"255=if(i1==5)\r\n##\r\nfree 2\r\n##\r\nfree 3\r\n"
    u"##=Deutsch\tGerman\r\nTranslatorName=Someone\r\n\r\n04=Freien Bereich nullen\r\n"
    u"25=Einschlie\u00DFlich Unterordner \r\n"
    u"##=English\tEnglish\r\nTranslatorName=Nulvane\r\nTranslatorURL=x\r\n\r\n"
    u"4=Fill the free space with null\r\n15= # Sure Delete ;)\r\n57=Delete +\r\n"
    u"abc=starts with no number\r\nno equals sign\r\n300=too large\r\n255=End\r\n"
    u"##\r\n";

class SmallTable : public ::testing::Test {
 protected:
  void SetUp() override { Load(table_, kSmallTable); }
  LanguageTable table_;
};

TEST_F(SmallTable, SlotsNamesAndTextsAsWritten) {
  ASSERT_EQ(table_.SlotCount(), 3);
  EXPECT_EQ(View(table_.SlotName(0)), u"Deutsch\tGerman");
  EXPECT_EQ(View(table_.SlotName(1)), u"English\tEnglish");
  EXPECT_EQ(table_.SlotName(2), nullptr) << "the closing separator opens an unnamed slot";
  EXPECT_EQ(View(table_.GetSlotText(0, 4)), u"Freien Bereich nullen") << "04 reads as 4";
  EXPECT_EQ(View(table_.GetSlotText(0, 25)), u"Einschlie\u00DFlich Unterordner ");
  EXPECT_EQ(View(table_.GetSlotText(1, 15)), u" # Sure Delete ;)");
  EXPECT_EQ(View(table_.GetSlotText(1, 0)), u"starts with no number")
      << "a line whose start is no number counts as id 0 and the later line wins";
  EXPECT_EQ(table_.GetSlotText(1, 44), nullptr);
}

TEST_F(SmallTable, LookupFallsBackToEnglishAndGuardsIdsAndIndex) {
  table_.SetCurrentLanguage(0);
  EXPECT_EQ(View(table_.GetText(4)), u"Freien Bereich nullen");
  EXPECT_EQ(View(table_.GetText(57)), u"Delete +") << "missing in German: English";
  EXPECT_EQ(table_.GetText(44), nullptr);
  EXPECT_EQ(View(table_.GetText(300)), u"==?");
  EXPECT_EQ(View(table_.GetText(-1)), u"==?");
  for (int index : {2, 16, 40, -1, 1000}) {
    table_.SetCurrentLanguage(index);
    EXPECT_EQ(View(table_.GetText(4)), u"Fill the free space with null") << index;
  }
}

TEST_F(SmallTable, GeneralBlockUnescapesOnlyCarriageReturnAndLineFeed) {
  EXPECT_EQ(View(table_.GetGeneralText(19)), u"Nulvane 4.21");
  EXPECT_EQ(View(table_.GetGeneralText(25)), u"a\r\nb\\x");
  EXPECT_EQ(table_.GetGeneralText(128), nullptr);
  EXPECT_EQ(table_.GetGeneralText(-1), nullptr);
  EXPECT_EQ(table_.GetGeneralText(20), nullptr);
}

TEST_F(SmallTable, DefaultSectionCopyIsTheEnglishSectionVerbatim) {
  EXPECT_EQ(table_.DefaultSectionCopy(),
            u"\nTranslatorName=Nulvane\r\nTranslatorURL=x\r\n\r\n"
            u"4=Fill the free space with null\r\n15= # Sure Delete ;)\r\n57=Delete +\r\n"
            u"abc=starts with no number\r\nno equals sign\r\n300=too large\r\n255=End\r\n");
}

// Malformed tables come from outside the program's control only in tests and fuzzing, but the
// loader must stay inside its buffer whatever it is given (the sanitizers check that).
TEST(MalformedTable, NeverCrashesOrReadsOutOfBounds) {
  const std::vector<Text> inputs = {
      u"",
      u"no separators at all\r\n1=x\r\n",
      u"#",
      u"##",
      u"##\r\n##\r\n##\r\n##=Name without carriage return",
      u"##\r\n##\r\n##\r\n##=A\tB\r\n4=last line without line feed",
      u"##\r\n1=\\",
      u"##\r\n1=\\r",
      u"###=###",
  };
  for (const Text& input : inputs) {
    LanguageTable table;
    Load(table, input);
    for (int id = -1; id <= 256; ++id) {
      table.GetText(id);
      table.GetGeneralText(id);
    }
  }
  LanguageTable header_without_cr;
  Load(header_without_cr, u"##\r\n##\r\n##\r\n##=Name without carriage return");
  EXPECT_EQ(header_without_cr.SlotCount(), 1);
  EXPECT_EQ(header_without_cr.SlotName(0), nullptr);

  Text many = u"##\r\n##\r\n##\r\n";
  for (int i = 0; i < 40; ++i) many += u"##=Lang\tLang\r\n1=x\r\n";
  LanguageTable crowded;
  Load(crowded, many);
  EXPECT_EQ(crowded.SlotCount(), kMaxSlots);

  // An odd byte count: the last byte is no character.
  std::vector<unsigned char> odd = Bytes(u"##\r\n19=x\r\n");
  odd.push_back(0x41);
  LanguageTable odd_table;
  odd_table.LoadText(odd.data(), odd.size());
  EXPECT_EQ(View(odd_table.GetGeneralText(19)), u"x");

  LanguageTable short_blob;
  const unsigned char two[] = {1, 2};
  EXPECT_FALSE(short_blob.LoadBlob(two, sizeof two));
  const unsigned char huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 0};
  EXPECT_FALSE(short_blob.LoadBlob(huge, sizeof huge));
}

// The built-in table: every language answers every id the English section has.
class BuiltInTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(LoadLanguageTable()); }
};

TEST_F(BuiltInTable, HasTheSixteenLanguagesInOrderAndAClosingSlot) {
  const LanguageTable& table = Table();
  ASSERT_EQ(table.SlotCount(), 17);
  const std::vector<Text> first_names = {u"Deutsch", u"English",    u"Russian",
                                         u"Dutch",   u"Rom\u00E2n", u"Swedish",
                                         u"French",  u"Italian",    u"T\u00FCrk\u00E7e",
                                         u"Arabic",  u"Spanisch",   u"Bulgarian",
                                         u"Greek",   u"Brasil",     u"Simplified-Chinese",
                                         u"Czech"};
  for (int slot = 0; slot < 16; ++slot) {
    const TextView name = View(table.SlotName(slot));
    EXPECT_EQ(name.substr(0, name.find(u'\t')), first_names[slot]) << slot;
    EXPECT_NE(name.find(u'\t'), TextView::npos) << slot;
  }
  EXPECT_EQ(View(table.SlotName(11)),
            u"Bulgarian\t\u0411\u044A\u043B\u0433\u0430\u0440\u0441\u043A\u0438 ");
  EXPECT_EQ(table.SlotName(16), nullptr);
  EXPECT_EQ(View(table.GetGeneralText(19)), u"Nulvane 4.21");
  for (int id : {20, 21, 22, 23, 24, 25, 26, 27})
    EXPECT_NE(table.GetGeneralText(id), nullptr) << id;
  EXPECT_EQ(View(table.GetGeneralText(23)).back(), u'/');
  EXPECT_EQ(View(table.GetGeneralText(24)).back(), u'/');
}

TEST_F(BuiltInTable, EnglishAndGermanHoldTheProgramsTexts) {
  const LanguageTable& table = Table();
  EXPECT_EQ(View(table.GetSlotText(1, 5)).substr(0, 43),
            u"Add the files via drag and dropp on this pr");
  EXPECT_EQ(View(table.GetSlotText(1, 10)), u"The begin in %d sec. Abort with [ESC]");
  EXPECT_EQ(View(table.GetSlotText(1, 34)), u"Delete &Delay %d sec");
  EXPECT_EQ(View(table.GetSlotText(1, 15)), u" # Sure Delete ;)");
  EXPECT_EQ(View(table.GetSlotText(0, 53)), u"Senden-An bearbeiten  ");
  EXPECT_EQ(View(table.GetSlotText(0, 35)), u"%d mal &schreiben");
  EXPECT_EQ(View(table.GetSlotText(1, 255)), u"End");
  for (int id : {12, 71, 79, 84, 89, 92}) EXPECT_EQ(table.GetSlotText(1, id), nullptr) << id;
}

std::vector<std::string> Conversions(TextView text) {
  const std::string utf8 = platform::TextToUtf8(text);
  static const std::regex conversion("%[-+ 0#]*[0-9]*(\\.[0-9]+)?(I64|l|ll|h)?[a-zA-Z%]");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(utf8.begin(), utf8.end(), conversion);
       it != std::sregex_iterator(); ++it)
    found.push_back(it->str());
  return found;
}

// "&&" shows one ampersand; a single "&" marks the mnemonic letter.
bool HasMnemonic(TextView text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'&') continue;
    if (i + 1 < text.size() && text[i + 1] == u'&') {
      ++i;
      continue;
    }
    return true;
  }
  return false;
}

TEST_F(BuiltInTable, EveryLanguageTranslatesEveryEnglishIdWithTheSamePlaceholders) {
  const LanguageTable& table = Table();
  for (int slot = 0; slot < 16; ++slot) {
    int translated = 0;
    for (int id = 1; id < kTextsPerSlot; ++id) {
      const char16_t* english = table.GetSlotText(1, id);
      if (!english) continue;
      const char16_t* text = table.GetSlotText(slot, id);
      ASSERT_NE(text, nullptr) << "slot " << slot << " lacks id " << id;
      EXPECT_FALSE(TextView(text).empty()) << "slot " << slot << " id " << id;
      EXPECT_EQ(Conversions(text), Conversions(english)) << "slot " << slot << " id " << id;
      const bool english_mnemonic = HasMnemonic(english);
      const bool mnemonic = HasMnemonic(text);
      EXPECT_EQ(mnemonic, english_mnemonic) << "slot " << slot << " id " << id;
      ++translated;
    }
    EXPECT_GT(translated, 100) << slot;
  }
}

TEST_F(BuiltInTable, CurrentLanguageSelectsTheSlot) {
  LanguageTable& table = Table();
  const int saved = table.CurrentLanguage();
  table.SetCurrentLanguage(0);
  EXPECT_EQ(View(table.GetText(14)), u"Bereit");
  table.SetCurrentLanguage(16);
  EXPECT_EQ(View(table.GetText(14)), u"Ready") << "the unnamed slot has no texts";
  table.SetCurrentLanguage(40);
  EXPECT_EQ(View(table.GetText(14)), u"Ready");
  table.SetCurrentLanguage(saved);
}

// The start decodes only as far as the general block, English and the current language go;
// the rest follows, from where it stopped, the first time something asks for it, and the texts
// handed out before stay where they are.
TEST(LazyTable, DecodesOnlyWhatTheLanguageNeedsAndTheRestOnDemand) {
  LanguageTable table;
  table.SetCurrentLanguage(0);  // German, as a settings file read before the table names it
  ASSERT_TRUE(table.LoadBlob(kLanguageTableBlob, kLanguageTableBlobSize));
  EXPECT_LT(table.DecodedSoFar() * 4, table.DecodedSize()) << "most of the table stays packed";
  const char16_t* ready = table.GetText(14);
  EXPECT_EQ(View(ready), u"Bereit");
  EXPECT_EQ(View(table.GetSlotText(1, 14)), u"Ready");
  EXPECT_EQ(View(table.GetGeneralText(19)), u"Nulvane 4.21");

  table.SetCurrentLanguage(15);  // the last language: all of it
  EXPECT_EQ(table.DecodedSoFar(), table.DecodedSize());
  EXPECT_NE(table.GetText(14), nullptr);
  EXPECT_NE(View(table.GetText(14)), u"Ready");
  EXPECT_EQ(table.GetSlotText(0, 14), ready) << "a text handed out earlier moved";
  EXPECT_EQ(table.SlotCount(), 17);

  // The same table as a whole decode gives it, text for text.
  LanguageTable whole;
  const std::vector<unsigned char> bytes = [] {
    std::uint32_t size = 0;
    return DecodeLzariBlob(kLanguageTableBlob, kLanguageTableBlobSize, ~std::size_t{0}, size);
  }();
  whole.LoadText(bytes.data(), bytes.size());
  ASSERT_EQ(whole.SlotCount(), table.SlotCount());
  for (int slot = 0; slot < whole.SlotCount(); ++slot) {
    EXPECT_EQ(View(whole.SlotName(slot)), View(table.SlotName(slot)));
    for (int id = 0; id < kTextsPerSlot; ++id) {
      EXPECT_EQ(View(whole.GetSlotText(slot, id)), View(table.GetSlotText(slot, id)))
          << slot << " " << id;
    }
  }
  EXPECT_EQ(whole.DefaultSectionCopy(), table.DefaultSectionCopy());
}

// The loader decodes in pieces of 16 KB (8192 characters) and goes on from where a piece ends.
// Free text in front of a small table moves its separators, headers and line breaks across
// that boundary one character at a time: wherever a piece ends, the table reads as one whole
// decode gives it.
TEST(LazyTable, PiecesEndingInsideSeparatorsAndHeadersReadAsAWholeDecode) {
  const TextView table_text =
      u"##\r\n19=Nulvane\r\n##\r\n##\r\n##=Deutsch\tGerman\r\n4=Nullen\r\n"
      u"##=English\tEnglish\r\n4=Zero\r\n##\r\n";
  constexpr std::size_t kPieceCharacters = 8192;
  for (std::size_t boundary = 0; boundary <= table_text.size(); ++boundary) {
    Text text = u"\uFEFF";
    text.append(kPieceCharacters - 1 - boundary, u'x');
    text.append(table_text);
    const std::vector<unsigned char> bytes = Bytes(text);
    const std::vector<unsigned char> blob = tools::EncodeLzari(bytes.data(), bytes.size());
    LanguageTable pieces;
    ASSERT_TRUE(pieces.LoadBlob(blob.data(), blob.size()));
    LanguageTable whole;
    whole.LoadText(bytes.data(), bytes.size());

    SCOPED_TRACE(::testing::Message() << "piece ends " << boundary << " characters into the table");
    ASSERT_EQ(whole.SlotCount(), 3);
    ASSERT_EQ(pieces.SlotCount(), whole.SlotCount());
    for (int slot = 0; slot < whole.SlotCount(); ++slot) {
      EXPECT_EQ(View(pieces.SlotName(slot)), View(whole.SlotName(slot)));
      EXPECT_EQ(View(pieces.GetSlotText(slot, 4)), View(whole.GetSlotText(slot, 4)));
    }
    EXPECT_EQ(View(pieces.GetGeneralText(19)), View(whole.GetGeneralText(19)));
    EXPECT_EQ(pieces.DefaultSectionCopy(), whole.DefaultSectionCopy());
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace nulvane::lang
