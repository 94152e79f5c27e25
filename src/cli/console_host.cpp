#include "cli/console_host.h"

#include <chrono>

#include "lang/language_table.h"
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

void ConsoleHost::AddMessage(TextView text, engine::MessageKind kind) {
  terminal_.Message(text, kind);
}

void ConsoleHost::SetProgressText(TextView text) {
  // The window shows two lines: "Remaining: ... || Elapsed: ..." and the status line; the
  // terminal shows them as one: the status line first, then the times.
  const std::size_t line_break = text.find(u'\n');
  if (line_break == TextView::npos) {
    terminal_.Progress(text);
    return;
  }
  terminal_.Progress(Text(text.substr(line_break + 1)) + u"  " + Text(text.substr(0, line_break)));
}

void ConsoleHost::SetStatusText(TextView text) {
  std::lock_guard lock(status_mutex_);
  status_ = Text(text);
}

void ConsoleHost::AddWarning(TextView text) {
  ++list_warnings_;
  terminal_.Message(text, engine::MessageKind::kWarning);
}

std::vector<platform::QueuedItem> ConsoleHost::SnapshotItems() {
  std::vector<platform::QueuedItem> rows;
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

Text ConsoleHost::RefreshOptionLabels() {
  return WithoutMnemonic(platform::Format(lang::Txt(34), delay_));
}

}  // namespace nulvane::cli
