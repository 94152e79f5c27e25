#include "cli/console_host.h"

#include <chrono>

#include "lang/language_table.h"
#include "lang/mnemonic.h"
#include "platform/format.h"

namespace nulvane::cli {

void MainThreadCalls::Call(const std::function<void()>& call) {
  if (std::this_thread::get_id() == owner_) {
    call();
    return;
  }
  Pending pending{&call};
  std::unique_lock lock(mutex_);
  queue_.push_back(&pending);
  changed_.notify_all();
  changed_.wait(lock, [&] { return pending.finished; });
}

void MainThreadCalls::ServeUntil(const std::atomic<bool>& done, const std::function<void()>& tick) {
  std::unique_lock lock(mutex_);
  while (!done.load() || !queue_.empty()) {
    if (queue_.empty()) {
      changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    while (!queue_.empty()) {
      Pending* pending = queue_.front();
      queue_.pop_front();
      lock.unlock();
      (*pending->call)();
      lock.lock();
      pending->finished = true;
      changed_.notify_all();
    }
    lock.unlock();
    if (tick) tick();
    lock.lock();
  }
}

void MainThreadCalls::Wake() {
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

Text ConsoleHost::LastStatus() {
  std::lock_guard lock(status_mutex_);
  return status_;
}

namespace {

using lang::TextId;

// Whether `text` can be the table text `id` with its text conversions filled: the text is
// formatted with a marker for each argument, and the pieces between the markers must appear
// in `text` in that order, the first at its start and the last at its end.
bool IsFilledText(TextView text, TextId id, int arguments) {
  static constexpr char16_t kMarker = 0xFFFF;  // a noncharacter: in no table text
  const Text marker(1, kMarker);
  const Text filled = arguments == 1 ? platform::Format(lang::Txt(id), marker)
                                     : platform::Format(lang::Txt(id), marker, marker);
  std::size_t piece_start = 0;
  std::size_t at = 0;
  for (std::size_t piece_index = 0;; ++piece_index) {
    const std::size_t piece_end = filled.find(kMarker, piece_start);
    const TextView piece = TextView(filled).substr(
        piece_start, piece_end == Text::npos ? Text::npos : piece_end - piece_start);
    if (piece_index == 0 && piece_end == Text::npos) return text == piece;  // no conversion
    if (piece_index == 0) {
      if (text.substr(0, piece.size()) != piece) return false;
      at = piece.size();
    } else if (piece_end == Text::npos) {
      return text.size() >= at + piece.size() && text.substr(text.size() - piece.size()) == piece;
    } else {
      const std::size_t found = text.find(piece, at);
      if (found == TextView::npos) return false;
      at = found + piece.size();
    }
    piece_start = piece_end + 1;
  }
}

}  // namespace

void ConsoleHost::AddMessage(TextView text, engine::MessageKind kind) {
  if (kind == engine::MessageKind::kInfo &&
      (IsFilledText(text, TextId::kReason, 1) || IsFilledText(text, TextId::kLeftBehind, 2))) {
    // Printed beside its error line, and also with -q: "Error: /path" alone says nothing.
    terminal_.Detail(text);
    return;
  }
  terminal_.Message(text, kind);
}

void ConsoleHost::ShowProgress(const engine::Progress& progress) {
  // One line: the amount first, then the times.
  terminal_.Progress(progress.amount + u"  " + progress.times);
  SetStatusText(progress.amount);
}

void ConsoleHost::SetProgressText(TextView text) { terminal_.Progress(text); }

void ConsoleHost::SetStatusText(TextView text) {
  std::lock_guard lock(status_mutex_);
  status_ = Text(text);
}

void ConsoleHost::AddWarning(TextView text) {
  ++list_warnings_;
  terminal_.Message(text, engine::MessageKind::kWarning);
}

platform::QueuedItems ConsoleHost::SnapshotItems() {
  platform::QueuedItems rows;
  calls_.Call([&] {
    if (list_) rows = list_->SnapshotRows();
  });
  return rows;
}

void ConsoleHost::RebuildRows() {
  calls_.Call([&] {
    if (list_) list_->RebuildRows();
  });
}

Text ConsoleHost::ShowRunOptions(int, int delay) {
  return lang::WithoutMnemonic(platform::Format(lang::Txt(TextId::kDelayEntry), delay));
}

}  // namespace nulvane::cli
