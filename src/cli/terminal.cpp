#include "cli/terminal.h"

#include "lang/language_table.h"
#include "platform/console.h"
#include "platform/format.h"

namespace nulvane::cli {

using platform::Stream;
using platform::WriteText;

namespace {

lang::TextId KindTextId(engine::MessageKind kind) {
  switch (kind) {
    case engine::MessageKind::kError:
      return lang::TextId::kError;
    case engine::MessageKind::kWarning:
      return lang::TextId::kWarning;
    case engine::MessageKind::kInfo:
      break;
  }
  return lang::TextId::kInfo;
}

}  // namespace

Terminal::Terminal(bool quiet)
    : quiet_(quiet), live_(!quiet && platform::IsTerminal(Stream::kOut)) {}

Terminal::~Terminal() {
  std::lock_guard lock(mutex_);
  FlushGatheredLocked();
}

void Terminal::FlushGatheredLocked() {
  if (gathered_.empty()) return;
  WriteText(Stream::kOut, gathered_);
  gathered_.clear();
}

void Terminal::ClearProgressLocked() {
  // Everything before this call comes first.
  FlushGatheredLocked();
  if (!progress_shown_) return;
  WriteText(Stream::kOut, u"\r\x1b[K");
  progress_shown_ = false;
}

void Terminal::Message(TextView text, engine::MessageKind kind) {
  const bool information = kind == engine::MessageKind::kInfo;
  if (information && quiet_) return;
  WriteMessage(text, kind, information ? Stream::kOut : Stream::kErr);
}

void Terminal::Detail(TextView text) {
  WriteMessage(text, engine::MessageKind::kInfo, Stream::kErr);
}

void Terminal::WriteMessage(TextView text, engine::MessageKind kind, Stream stream) {
  // Names that are not text (POSIX bytes) and control characters are shown escaped, never
  // as another name and never as something the terminal acts on.
  const Text line =
      platform::Format(u"%s: %s\n", lang::Txt(KindTextId(kind)), platform::EscapeForDisplay(text));
  std::lock_guard lock(mutex_);
  ClearProgressLocked();
  WriteText(stream, line);
}

void Terminal::Line(TextView text) {
  if (quiet_) return;
  std::lock_guard lock(mutex_);
  ClearProgressLocked();
  WriteText(Stream::kOut, platform::EscapeForDisplay(text) + u"\n");
}

void Terminal::GatheredLine(TextView text) {
  if (quiet_) return;
  // UTF-16 units: about 32 KB once written as UTF-8 for ASCII names.
  constexpr std::size_t kGatherUnits = 32 * 1024;
  std::lock_guard lock(mutex_);
  if (progress_shown_) ClearProgressLocked();
  platform::AppendEscapedForDisplay(gathered_, text);
  gathered_ += u'\n';
  if (gathered_.size() >= kGatherUnits) FlushGatheredLocked();
}

void Terminal::Progress(TextView line) {
  if (!live_) return;
  std::lock_guard lock(mutex_);
  FlushGatheredLocked();
  WriteText(Stream::kOut, u"\r" + platform::EscapeForDisplay(line) + u"\x1b[K");
  progress_shown_ = true;
}

void Terminal::EndProgress() {
  std::lock_guard lock(mutex_);
  ClearProgressLocked();
}

}  // namespace nulvane::cli
