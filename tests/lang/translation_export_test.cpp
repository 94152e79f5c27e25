#include "lang/translation_export.h"

#include <gtest/gtest.h>

#include <string>

#include "lang/language_table.h"
#include "lang/lzari.h"
#include "platform/text.h"
#include "support/temp_folder.h"

namespace nulvane::lang {

extern const unsigned char kLanguageTableBlob[];
extern const std::size_t kLanguageTableBlobSize;

namespace {

using testing::ReadTestFile;
using testing::TempFolder;

Text FromUtf16Le(const std::string& bytes) {
  Text text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return text;
}

TEST(BuiltInBlob, DecodesToTheTableTextWithItsClosingSeparator) {
  std::uint32_t size = 0;
  const std::vector<unsigned char> bytes =
      DecodeLzariBlob(kLanguageTableBlob, kLanguageTableBlobSize, 1u << 20, size);
  ASSERT_GT(size, 4u);
  ASSERT_EQ(bytes.size(), size);
  EXPECT_EQ(size % 2, 0u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xFE);
  const Text text = FromUtf16Le(std::string(bytes.begin(), bytes.end()));
  EXPECT_EQ(text.substr(text.size() - 4), u"##\r\n");
  EXPECT_EQ(text.find(u"\n\n"), Text::npos) << "every line ends with CR LF";
}

class Export : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(LoadLanguageTable()); }
  TempFolder folder_;
};

TEST_F(Export, WritesRequestSubjectAndTheDefaultSectionAsUtf16) {
  const Text path = folder_ / u"translate_11.txt";
  ASSERT_TRUE(WriteTranslationExport(Table(), path));
  std::string bytes;
  ASSERT_TRUE(ReadTestFile(path, bytes));
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
  const Text text = FromUtf16Le(bytes);
  const Text request = GetGeneralText(GeneralTextId::kTranslatorsNote);
  ASSERT_EQ(text.substr(1, request.size()), request);
  EXPECT_EQ(text.substr(1 + request.size(), 2), u"\r\n");
  EXPECT_NE(text.find(u"Please don't forget! Write in e-mail subject: Strings for: Nulvane 4.21 "
                      u"LNG:xxxxxx\r\n\r\n\nTranslatorName="),
            Text::npos);
  const TextView section = Table().DefaultSectionCopy();
  EXPECT_GT(section.size(), 2047u) << "the copy is sized from the content, not cut at 2047";
  EXPECT_NE(text.find(Text(section) + u"\r\n\r\n"), Text::npos);
  EXPECT_EQ(text.substr(text.size() - 4), u"\r\n\r\n");
  EXPECT_NE(text.find(u"\r\n255=End\r\n\r\n\r\n"), Text::npos);
}

TEST_F(Export, IsTheSameWhateverLanguageIsCurrentAndReplacesTheOldFile) {
  const Text path = folder_ / u"translate_11.txt";
  ASSERT_TRUE(testing::WriteTestFile(path, std::string(100000, 'x')));
  const int saved = Table().CurrentLanguage();
  Table().SetCurrentLanguage(0);
  ASSERT_TRUE(WriteTranslationExport(Table(), path));
  std::string german;
  ASSERT_TRUE(ReadTestFile(path, german));
  Table().SetCurrentLanguage(14);
  ASSERT_TRUE(WriteTranslationExport(Table(), path));
  std::string chinese;
  ASSERT_TRUE(ReadTestFile(path, chinese));
  Table().SetCurrentLanguage(saved);
  EXPECT_EQ(german, chinese);
  EXPECT_LT(german.size(), 100000u);
}

TEST_F(Export, AFailedWriteLeavesNoHalfFile) {
  const Text path = folder_ / u"missing-folder" + u"/translate_11.txt";
  EXPECT_FALSE(WriteTranslationExport(Table(), path));
  EXPECT_FALSE(testing::PathExists(path));
}

TEST(ExportPath, IsTranslate11InTheTemporaryFolder) {
  const Text path = TranslationExportPath();
  ASSERT_GE(path.size(), 16u);
  EXPECT_EQ(path.substr(path.size() - 16), u"translate_11.txt");
}

}  // namespace
}  // namespace nulvane::lang
