#include "app/countdown_text.h"

#include <string>

namespace nulvane::app {
namespace {

using lang::TextId;

Text TextOf(const lang::LanguageTable& table, TextId id) {
  const char16_t* text = table.GetText(id);
  return text ? Text(text) : Text();
}

}  // namespace

CountdownTexts CountdownTextsFor(const lang::LanguageTable& table, int action) {
  CountdownTexts texts;
  const bool standby = action == kCountdownStandby || action == kCountdownStandbyAndEnd;
  texts.mode = standby ? action : kCountdownShutDown;
  texts.title = TextOf(table, standby ? TextId::kStandby : TextId::kShutdown);
  texts.prefix = TextOf(table, standby ? TextId::kStandbyIn : TextId::kShutdownIn);
  texts.suffix = TextOf(table, TextId::kCountdownSeconds);
  texts.ok = TextOf(table, TextId::kOk);
  texts.cancel = TextOf(table, TextId::kCountdownCancel);
  return texts;
}

Text CountdownLabel(const CountdownTexts& texts, int seconds) {
  Text label = texts.prefix;
  label += u' ';
  for (char c : std::to_string(seconds)) label += static_cast<char16_t>(c);
  label += u' ';
  label += texts.suffix;
  return label;
}

}  // namespace nulvane::app
