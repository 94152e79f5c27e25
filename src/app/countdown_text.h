// The countdown dialog's texts, chosen by the after-run action and kept apart from the window so
// they are tested on every system.
#pragma once

#include "lang/language_table.h"
#include "platform/text.h"

namespace nulvane::app {

// The countdown's modes: what happens when it ends without a cancel.
inline constexpr int kCountdownShutDown = 1;
inline constexpr int kCountdownStandby = 2;
inline constexpr int kCountdownStandbyAndEnd = 3;
inline constexpr int kCountdownSeconds = 10;

struct CountdownTexts {
  int mode = kCountdownShutDown;
  Text title;
  Text prefix;
  Text suffix;
  Text ok;
  Text cancel;
};

// The mode and texts for after-run action `action`: 2 and 3 stay as they are, any other code
// means shutting down.
CountdownTexts CountdownTextsFor(const lang::LanguageTable& table, int action);

// The label: prefix, " <seconds> ", suffix ("PC Shut Down in 10 sec.").
Text CountdownLabel(const CountdownTexts& texts, int seconds);

}  // namespace nulvane::app
