// A RunHost for tests: records every call (with the calling thread) and answers the host's
// questions from values the test sets. Thread-safe: a run's worker calls it while the test
// thread reads it.
#pragma once

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/run_host.h"

namespace nulvane::testing {

class RecordingHost final : public engine::RunHost {
 public:
  enum class CallKind {
    kAddMessage,
    kSetProgressText,
    kSetStatusText,
    kSetTitle,
    kSetCommandsEnabled,
    kSnapshotItems,
    kRebuildRows,
    kShowRunOptions,
    kRunEnded,
  };
  struct Call {
    CallKind kind;
    Text text;  // the text given (messages, progress, status, title)
    // Message kind, enabled flag, the passes of ShowRunOptions, or RunEnded's after-run step.
    int number = 0;
    std::thread::id thread;
    int delay = 0;  // ShowRunOptions
  };
  struct Message {
    Text text;
    engine::MessageKind kind;
  };

  // What the host answers.
  // The rows SnapshotItems gives: each path with its parent as anchor and the identity
  // `identity_of` gives for it (as the list records at its first look; none without it).
  void SetItems(const std::vector<Text>& paths,
                const std::function<platform::EntryIdentity(TextView path)>& identity_of = nullptr);
  void SetQueuedItems(platform::QueuedItems items);
  void SetOptionLabel(Text label);
  // Called after each call is recorded, on the calling thread, without the host's lock held.
  void OnCall(std::function<void(const Call&)> hook);

  // What was recorded.
  std::vector<Call> Calls() const;
  std::vector<Call> CallsOf(CallKind kind) const;
  int Count(CallKind kind) const;
  // Message lines in the order they were added (the window shows them the other way round).
  std::vector<Message> Messages() const;
  std::vector<Text> MessageTexts() const;
  std::vector<Text> MessagesOfKind(engine::MessageKind kind) const;
  // The last text given to SetStatusText / SetProgressText / SetTitle (empty if none).
  Text LastStatus() const;
  Text LastProgress() const;
  Text LastTitle() const;
  // Whether the run commands are enabled as the host last heard (true before any call).
  bool CommandsEnabled() const;
  void Clear();

  // RunHost
  void AddMessage(TextView text, engine::MessageKind kind) override;
  // Recorded as the window shows a report: the progress text (the times, a line break and the
  // amount), the status bar (the amount) and the title.
  void ShowProgress(const engine::Progress& progress) override;
  void SetProgressText(TextView text) override;
  void SetStatusText(TextView text) override;
  void SetTitle(TextView text) override;
  void SetCommandsEnabled(bool enabled) override;
  platform::QueuedItems SnapshotItems() override;
  void RebuildRows() override;
  // Answers with the label SetOptionLabel gave.
  Text ShowRunOptions(int passes, int delay) override;
  void RunEnded(const engine::RunEnd& end) override;

 private:
  void Record(CallKind kind, TextView text, int number, int delay = 0);
  Text LastTextOf(CallKind kind) const;

  mutable std::mutex mutex_;
  std::vector<Call> calls_;
  platform::QueuedItems items_;
  Text option_label_ = u"Delete &Delay 0 sec";
  std::function<void(const Call&)> hook_;
  bool commands_enabled_ = true;
};

}  // namespace nulvane::testing
