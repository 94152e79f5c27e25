#include "app/countdown_text.h"

#include <string>

namespace nulvane::app {
namespace {

constexpr int kShutdownTitleText = 59;
constexpr int kStandbyTitleText = 80;
constexpr int kShutdownPrefixText = 81;
constexpr int kStandbyPrefixText = 82;
constexpr int kSecondsText = 83;
constexpr int kOkText = 90;
constexpr int kCancelText = 91;

Text TextOf(const lang::LanguageTable& table, int id) {
  const char16_t* text = table.GetText(id);
  return text ? Text(text) : Text();
}

}  // namespace

CountdownTexts CountdownTextsFor(const lang::LanguageTable& table, int action) {
  CountdownTexts texts;
  const bool standby = action == kCountdownStandby || action == kCountdownStandbyAndEnd;
  texts.mode = standby ? action : kCountdownShutDown;
  texts.title = TextOf(table, standby ? kStandbyTitleText : kShutdownTitleText);
  texts.prefix = TextOf(table, standby ? kStandbyPrefixText : kShutdownPrefixText);
  texts.suffix = TextOf(table, kSecondsText);
  texts.ok = TextOf(table, kOkText);
  texts.cancel = TextOf(table, kCancelText);
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
