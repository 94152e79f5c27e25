#include "app/log_text.h"

namespace nulvane::app {

namespace {

// The legend's words, by kind.
constexpr lang::TextId kKindTexts[] = {lang::TextId::kInfo, lang::TextId::kError,
                                       lang::TextId::kWarning};

}  // namespace

Text LogAsText(const lang::LanguageTable& table, const std::vector<LogLine>& lines) {
  Text text;
  for (const LogLine& line : lines) {
    const int kind = line.kind >= 0 && line.kind < 3 ? line.kind : 0;
    const char16_t* word = table.GetText(kKindTexts[kind]);
    text += word ? word : u"";
    text += u'\t';
    for (const char16_t c : line.text) {
      text += (c == u'\t' || c == u'\r' || c == u'\n') ? u' ' : c;
    }
    text += u"\r\n";
  }
  return text;
}

std::string LogFileBytes(TextView text) { return "\xEF\xBB\xBF" + platform::TextToUtf8(text); }

}  // namespace nulvane::app
