#include "support/recording_host.h"

namespace nulvane::testing {

void RecordingHost::SetItems(
    const std::vector<Text>& paths,
    const std::function<platform::EntryIdentity(TextView path)>& identity_of) {
  std::vector<platform::QueuedItem> items;
  for (const Text& path : paths) {
    platform::QueuedItem item;
    item.path = path;
    item.anchor_length = platform::ParentAnchorLength(path);
    if (identity_of) item.identity = identity_of(path);
    items.push_back(std::move(item));
  }
  SetQueuedItems(std::move(items));
}

void RecordingHost::SetQueuedItems(platform::QueuedItems items) {
  std::lock_guard lock(mutex_);
  items_ = std::move(items);
}

void RecordingHost::SetOptionLabel(Text label) {
  std::lock_guard lock(mutex_);
  option_label_ = std::move(label);
}

void RecordingHost::OnCall(std::function<void(const Call&)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void RecordingHost::Record(CallKind kind, TextView text, int number, int delay) {
  Call call{kind, Text(text), number, std::this_thread::get_id(), delay};
  std::function<void(const Call&)> hook;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    if (kind == CallKind::kSetCommandsEnabled) commands_enabled_ = number != 0;
    hook = hook_;
  }
  if (hook) hook(call);
}

std::vector<RecordingHost::Call> RecordingHost::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<RecordingHost::Call> RecordingHost::CallsOf(CallKind kind) const {
  std::vector<Call> out;
  std::lock_guard lock(mutex_);
  for (const Call& call : calls_)
    if (call.kind == kind) out.push_back(call);
  return out;
}

int RecordingHost::Count(CallKind kind) const { return static_cast<int>(CallsOf(kind).size()); }

std::vector<RecordingHost::Message> RecordingHost::Messages() const {
  std::vector<Message> out;
  for (const Call& call : CallsOf(CallKind::kAddMessage)) {
    out.push_back({call.text, static_cast<engine::MessageKind>(call.number)});
  }
  return out;
}

std::vector<Text> RecordingHost::MessageTexts() const {
  std::vector<Text> out;
  for (const Call& call : CallsOf(CallKind::kAddMessage)) out.push_back(call.text);
  return out;
}

std::vector<Text> RecordingHost::MessagesOfKind(engine::MessageKind kind) const {
  std::vector<Text> out;
  for (const Message& message : Messages())
    if (message.kind == kind) out.push_back(message.text);
  return out;
}

Text RecordingHost::LastTextOf(CallKind kind) const {
  std::lock_guard lock(mutex_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->kind == kind) return it->text;
  return Text();
}

Text RecordingHost::LastStatus() const { return LastTextOf(CallKind::kSetStatusText); }
Text RecordingHost::LastProgress() const { return LastTextOf(CallKind::kSetProgressText); }
Text RecordingHost::LastTitle() const { return LastTextOf(CallKind::kSetTitle); }

bool RecordingHost::CommandsEnabled() const {
  std::lock_guard lock(mutex_);
  return commands_enabled_;
}

void RecordingHost::Clear() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

void RecordingHost::AddMessage(TextView text, engine::MessageKind kind) {
  Record(CallKind::kAddMessage, text, static_cast<int>(kind));
}
void RecordingHost::ShowProgress(const engine::Progress& progress) {
  SetProgressText(progress.times + u"\n" + progress.amount);
  SetStatusText(progress.amount);
  SetTitle(progress.title);
}
void RecordingHost::SetProgressText(TextView text) { Record(CallKind::kSetProgressText, text, 0); }
void RecordingHost::SetStatusText(TextView text) { Record(CallKind::kSetStatusText, text, 0); }
void RecordingHost::SetTitle(TextView text) { Record(CallKind::kSetTitle, text, 0); }
void RecordingHost::SetCommandsEnabled(bool enabled) {
  Record(CallKind::kSetCommandsEnabled, {}, enabled ? 1 : 0);
}

platform::QueuedItems RecordingHost::SnapshotItems() {
  Record(CallKind::kSnapshotItems, {}, 0);
  std::lock_guard lock(mutex_);
  return items_;
}

void RecordingHost::RebuildRows() { Record(CallKind::kRebuildRows, {}, 0); }

Text RecordingHost::ShowRunOptions(int passes, int delay) {
  Record(CallKind::kShowRunOptions, {}, passes, delay);
  std::lock_guard lock(mutex_);
  return option_label_;
}

void RecordingHost::RunEnded(const engine::RunEnd& end) {
  Record(CallKind::kRunEnded, {}, static_cast<int>(end.after_run));
}

}  // namespace nulvane::testing
