// The message list as text: what Copy puts on the clipboard and what "Save log as" writes.
#pragma once

#include <string>
#include <vector>

#include "lang/language_table.h"
#include "platform/text.h"

namespace nulvane::app {

struct LogLine {
  // The line's kind as the message list's icon shows it: 0 information, 1 error, 2 warning.
  int kind = 0;
  Text text;
};

// One line per message, oldest first as `lines` are given: the kind's word of the legend in the
// current language ("Info", "Error", "Warning"), a tab, the message; CR LF after each. A kind
// outside 0..2 is named as information. Tabs and line breaks inside a message become blanks,
// so that every message stays one line of two fields.
Text LogAsText(const lang::LanguageTable& table, const std::vector<LogLine>& lines);

// `text` as the bytes of a log file: UTF-8 with a byte order mark, so that every editor reads
// the names in it as they are.
std::string LogFileBytes(TextView text);

}  // namespace nulvane::app
