// A deletion run with several small files in flight at once: the lines read as those of a run
// that destroys one item after another, a folder goes only after all of its contents, a stop
// finishes the items in flight and starts no other, and one file failing among others in
// flight is counted and reported in its place. On the in-memory file system, where the tests
// hold an item back to make later ones finish first, and on a real tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "engine/deletion_run.h"
#include "engine_test_support.h"
#include "lang/language_table.h"
#include "platform/format.h"
#include "support/fake_clock.h"
#include "support/fake_file_system.h"
#include "support/forwarding_file_system.h"
#include "support/recording_host.h"
#include "support/temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace nulvane::engine {
namespace {

using testing::FakeClock;
using testing::FakeFileSystem;
using testing::FakePath;
using testing::FsCall;
using testing::FsOp;
using testing::RecordingHost;

// Waits until `ready` holds, polling; gives up after a few seconds so that a run that never
// gets there fails its expectations instead of hanging.
void WaitUntil(const std::function<bool()>& ready) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!ready() && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The recording host, also keeping the byte counts of the progress reports shown.
class ProgressKeepingHost final : public RunHost {
 public:
  explicit ProgressKeepingHost(RecordingHost& inner) : inner_(inner) {}
  std::vector<std::uint64_t> shown;

  void AddMessage(TextView text, MessageKind kind) override { inner_.AddMessage(text, kind); }
  void ShowProgress(const Progress& progress) override {
    shown.push_back(progress.done_bytes);
    inner_.ShowProgress(progress);
  }
  void SetProgressText(TextView text) override { inner_.SetProgressText(text); }
  void SetStatusText(TextView text) override { inner_.SetStatusText(text); }
  void SetTitle(TextView text) override { inner_.SetTitle(text); }
  void SetCommandsEnabled(bool enabled) override { inner_.SetCommandsEnabled(enabled); }
  platform::QueuedItems SnapshotItems() override { return inner_.SnapshotItems(); }
  void RebuildRows() override { inner_.RebuildRows(); }
  Text ShowRunOptions(int passes, int delay) override {
    return inner_.ShowRunOptions(passes, delay);
  }
  void RunEnded(const RunEnd& end) override { inner_.RunEnded(end); }

 private:
  RecordingHost& inner_;
};

struct RunRecord {
  RunResult result;
  std::vector<RecordingHost::Message> messages;
  FakeFileSystem::Snapshot left;
};

class FilesInFlight : public ::testing::Test {
 protected:
  // Runs the items on `fs` with `in_flight` files at once and `passes` passes.
  static RunRecord Run(FakeFileSystem& fs, const std::vector<Text>& items, int in_flight,
                       int passes = 1, std::atomic<bool>* stop = nullptr) {
    RecordingHost host;
    ProgressKeepingHost progress_host(host);
    FakeClock clock;
    clock.SetStepPerReading(40);  // progress reports become due as items are taken back
    RunFlags flags;
    RunContext context(progress_host, fs, clock, flags);
    context.passes = passes;
    context.delay = 0;
    context.files_in_flight = in_flight;
    context.stop_after_item = stop;
    host.SetItems(items, [&](TextView path) { return fs.IdentityOf(path); });
    RunRecord record;
    testing::RunOnFreshThread([&] { record.result = RunDeletion(context); });
    record.messages = host.Messages();
    record.left = fs.TakeSnapshot();
    // The progress the host was shown only grows, and ends on what was really written.
    EXPECT_GT(progress_host.shown.size(), 1u);
    EXPECT_TRUE(std::is_sorted(progress_host.shown.begin(), progress_host.shown.end()));
    if (!progress_host.shown.empty()) {
      EXPECT_EQ(progress_host.shown.back(), record.result.written_bytes);
    }
    return record;
  }
};

// A folder of files where some fail in ways that show lines (held open by another program,
// hard-linked, a write refused) among others that go.
void BuildMixedFolder(FakeFileSystem& fs) {
  for (int i = 0; i < 10; ++i) {
    fs.AddFileOfSize(FakePath(u"w/F/f" + Text(1, static_cast<char16_t>(u'0' + i))), 100 + i);
  }
  fs.SetHeldOpen(FakePath(u"w/F/f9"), true);
  fs.AddHardLink(FakePath(u"w/F/f6"), FakePath(u"x/other-name"));
  fs.FailAlways(FsOp::kWrite, testing::FakeError::kIo, FakePath(u"w/F/f3"));
}

// The files only: a folder left behind would stand under a random name of its own in each run.
std::vector<Text> MixedItems() {
  std::vector<Text> items;
  for (int i = 0; i < 10; ++i) items.push_back(FakePath(u"w/F/f" + Text(1, u'0' + i)));
  return items;
}

TEST_F(FilesInFlight, LinesCountsAndDiskAreThoseOfARunThatGoesOneItemAfterAnother) {
  FakeFileSystem serial_fs;
  BuildMixedFolder(serial_fs);
  const RunRecord serial = Run(serial_fs, MixedItems(), 1, 2);

  FakeFileSystem fs;
  BuildMixedFolder(fs);
  // The first item started (f9, the last of the list) is held back until the three started
  // after it have made their attempts: they finish first, yet their lines come after its own.
  std::atomic<int> later_opens{0};
  fs.SetObserver([&](const FsCall& call) {
    if (call.op != FsOp::kOpenForOverwrite) return;
    if (call.path == FakePath(u"w/F/f9")) {
      WaitUntil([&] { return later_opens.load() >= 3; });
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else {
      ++later_opens;
    }
  });
  const RunRecord pooled = Run(fs, MixedItems(), 4, 2);

  ASSERT_EQ(pooled.messages.size(), serial.messages.size());
  for (std::size_t i = 0; i < serial.messages.size(); ++i) {
    EXPECT_EQ(testing::Narrow(pooled.messages[i].text), testing::Narrow(serial.messages[i].text))
        << "line " << i;
    EXPECT_EQ(pooled.messages[i].kind, serial.messages[i].kind) << "line " << i;
  }
  // f9, f6 and f3 failed and are kept; the other seven are gone.
  EXPECT_EQ(pooled.result.items_destroyed, 7);
  EXPECT_EQ(pooled.result.items_failed, 3);
  EXPECT_EQ(pooled.result.items_untouched, 0);
  EXPECT_EQ(pooled.result.error_count, serial.result.error_count);
  EXPECT_EQ(pooled.result.written_bytes, serial.result.written_bytes);
  EXPECT_EQ(pooled.result.total_bytes, serial.result.total_bytes);
  EXPECT_EQ(pooled.left, serial.left);
  EXPECT_EQ(fs.OpenHandles(), 0);
}

TEST_F(FilesInFlight, AFolderStartsOnlyAfterEveryItemInsideItIsDone) {
  FakeFileSystem fs;
  std::vector<Text> items{FakePath(u"w/F")};
  for (const char16_t* name : {u"a", u"b", u"c", u"d", u"e", u"f"}) {
    items.push_back(FakePath(u"w/F/") + name);
    fs.AddFileOfSize(items.back(), 50);
  }
  items.push_back(FakePath(u"w/F/G"));
  for (const char16_t* name : {u"x", u"y", u"z"}) {
    items.push_back(FakePath(u"w/F/G/") + name);
    fs.AddFileOfSize(items.back(), 50);
  }
  fs.AddFile(FakePath(u"w/keep"), "keep");
  // Every file's flush takes a while, so that a folder started too early would find files
  // still at work inside it.
  fs.SetObserver([](const FsCall& call) {
    if (call.op == FsOp::kFlush) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  const RunRecord record = Run(fs, items, 4);

  EXPECT_EQ(record.result.items_destroyed, static_cast<int>(items.size()));
  EXPECT_EQ(fs.Children(FakePath(u"w")), std::vector<Text>{FakePath(u"w/keep")});
  // In the order the calls reached the file system: nothing inside a folder is touched once
  // the folder's own turn has begun (its stamp), under its name or a random one.
  const std::vector<FsCall> calls = fs.Calls();
  for (const Text& folder : {FakePath(u"w/F"), FakePath(u"w/F/G")}) {
    const auto turn = std::find_if(calls.begin(), calls.end(), [&](const FsCall& call) {
      return call.op == FsOp::kOpenFolderForStamp && call.path == folder;
    });
    ASSERT_NE(turn, calls.end()) << testing::Narrow(folder);
    const Text inside = folder + Text(1, platform::kPathSeparator);
    for (auto call = turn; call != calls.end(); ++call) {
      EXPECT_FALSE(call->path.starts_with(inside) && call->path.size() > inside.size() &&
                   call->op != FsOp::kRenameNoReplace && call->op != FsOp::kRemoveFolder &&
                   call->op != FsOp::kOpenFolderForStamp && call->op != FsOp::kInspect)
          << testing::FsOpName(call->op) << " " << testing::Narrow(call->path) << " after "
          << testing::Narrow(folder);
    }
  }
}

TEST_F(FilesInFlight, AStopFinishesTheFilesInFlightAndStartsNoOther) {
  FakeFileSystem fs;
  std::vector<Text> items;
  for (int i = 0; i < 12; ++i) {
    items.push_back(FakePath(u"w/f") + Text(1, static_cast<char16_t>(u'a' + i)));
    fs.AddFileOfSize(items.back(), 64);
  }
  const FakeFileSystem::Snapshot before = fs.TakeSnapshot();
  std::atomic<bool> stop{false};
  std::atomic<int> opens{0};
  // Ctrl+C while the first file is written, once four files are at work.
  fs.SetObserver([&](const FsCall& call) {
    if (call.op == FsOp::kOpenForOverwrite) ++opens;
    if (call.op == FsOp::kWrite && !stop.load()) {
      WaitUntil([&] { return opens.load() >= 4; });
      stop.store(true);
    }
  });
  const RunRecord record = Run(fs, items, 4, 1, &stop);

  EXPECT_TRUE(record.result.stopped);
  EXPECT_EQ(record.result.items_done, 4);
  EXPECT_EQ(record.result.items_destroyed, 4);
  EXPECT_EQ(record.result.items_left, 8);
  EXPECT_EQ(record.result.error_count, 0);
  EXPECT_EQ(testing::Narrow(record.messages.back().text),
            "Destroyed: 4, failed: 0, left untouched: 8");
  // The four in flight were the last four of the list; the rest is as it was.
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i >= 8) {
      EXPECT_FALSE(fs.Exists(items[i])) << testing::Narrow(items[i]);
    } else {
      EXPECT_EQ(fs.EntryAt(items[i]), before.at(items[i])) << testing::Narrow(items[i]);
    }
  }
  EXPECT_EQ(record.result.written_bytes, 4u * 64u);
  EXPECT_EQ(fs.OpenHandles(), 0);
}

// ---- the classic removal of a folder on Windows ----

// The in-memory file system with Windows' classic removal of a folder (a volume or a system
// without the POSIX disposition: before Windows 10 1709, or not NTFS). A folder that another
// handle, shared for deletion, still holds is only marked for deletion: its name stays, and
// its parent is not empty, until the last handle closes. The handles are those of each
// thread's folder chain inside an OpenFolderScope: the folders from the anchor down to the
// parent of the last entry the thread reached, closed when the chain is emptied.
class ClassicFolderRemoval final : public testing::ForwardingFileSystem {
 public:
  explicit ClassicFolderRemoval(FakeFileSystem& fake) : ForwardingFileSystem(fake), fake_(fake) {}

  platform::IoResult Inspect(const platform::EntryRef& entry, platform::EntryInfo& info) override {
    Hold(entry);
    return inner().Inspect(entry, info);
  }
  platform::IoResult OpenForOverwrite(const platform::EntryRef& entry,
                                      std::unique_ptr<platform::OpenFile>& file,
                                      platform::OpenedFileInfo& info) override {
    Hold(entry);
    return inner().OpenForOverwrite(entry, file, info);
  }
  platform::IoResult OpenFolderForStamp(const platform::EntryRef& entry,
                                        std::unique_ptr<platform::OpenFile>& folder) override {
    Hold(entry);
    return inner().OpenFolderForStamp(entry, folder);
  }
  using ForwardingFileSystem::RenameNoReplace;
  platform::IoResult RenameNoReplace(const platform::EntryRef& from, TextView to,
                                     platform::EntryIdentity& after) override {
    Hold(from);
    return inner().RenameNoReplace(from, to, after);
  }
  platform::IoResult DeleteFile(const platform::EntryRef& entry) override {
    Hold(entry);
    return inner().DeleteFile(entry);
  }
  platform::IoResult RemoveFolder(const platform::EntryRef& entry) override {
    Hold(entry);
    const platform::EntryIdentity folder = fake_.IdentityOf(entry.path);
    {
      std::lock_guard lock(mutex_);
      for (const auto& [thread, identities] : held_) {
        if (thread == std::this_thread::get_id()) continue;
        for (const platform::EntryIdentity& identity : identities) {
          if (!identity.Matches(folder)) continue;
          // Marked for deletion: the call succeeds, the name goes when the last handle closes.
          pending_.push_back({Text(entry.path), folder});
          return platform::IoResult::Ok();
        }
      }
    }
    return inner().RemoveFolder(entry);
  }
  void ForgetOpenFolders() override {
    Replace({});
    inner().ForgetOpenFolders();
  }

 private:
  // The folders the calling thread's chain holds after a call that reached `entry`.
  void Hold(const platform::EntryRef& entry) {
    if (!platform::OpenFolderScope::Active()) return;  // emptied when the call returns
    std::vector<platform::EntryIdentity> folders;
    const TextView path = entry.path;
    std::size_t end = entry.anchor_length;
    while (end > 1 && platform::IsPathSeparator(path[end - 1])) --end;
    for (;;) {
      folders.push_back(fake_.IdentityOf(path.substr(0, end)));
      const std::size_t next = path.find(platform::kPathSeparator, end + 1);
      if (next == TextView::npos) break;
      end = next;
    }
    Replace(std::move(folders));
  }

  // The calling thread's chain now holds `folders`; folders marked for deletion that nobody
  // holds any longer go.
  void Replace(std::vector<platform::EntryIdentity> folders) {
    std::vector<Text> released;
    {
      std::lock_guard lock(mutex_);
      held_[std::this_thread::get_id()] = std::move(folders);
      for (auto it = pending_.begin(); it != pending_.end();) {
        bool still_held = false;
        for (const auto& [thread, identities] : held_) {
          for (const platform::EntryIdentity& identity : identities) {
            still_held = still_held || identity.Matches(it->identity);
          }
        }
        if (still_held) {
          ++it;
        } else {
          released.push_back(it->path);
          it = pending_.erase(it);
        }
      }
    }
    for (const Text& path : released) inner().RemoveFolder(path);
  }

  struct Pending {
    Text path;
    platform::EntryIdentity identity;
  };
  FakeFileSystem& fake_;
  std::mutex mutex_;
  std::map<std::thread::id, std::vector<platform::EntryIdentity>> held_;
  std::vector<Pending> pending_;
};

TEST_F(FilesInFlight, WorkersLetGoOfTheirFoldersBeforeAFolderIsRemoved) {
  FakeFileSystem fake;
  ClassicFolderRemoval fs(fake);
  std::vector<Text> items{FakePath(u"w/P"), FakePath(u"w/P/F")};
  for (const char16_t* name : {u"a", u"b", u"c", u"d", u"e", u"f"}) {
    items.push_back(FakePath(u"w/P/F/") + name);
    fake.AddFileOfSize(items.back(), 100);
  }
  fake.AddFile(FakePath(u"w/keep"), "keep");
  RecordingHost host;
  FakeClock clock;
  RunFlags flags;
  RunContext context(host, fs, clock, flags);
  context.delay = 0;
  context.files_in_flight = 4;
  host.SetItems(items, [&](TextView path) { return fake.IdentityOf(path); });
  RunResult result;
  testing::RunOnFreshThread([&] { result = RunDeletion(context); });

  // The workers held F while they destroyed its files; had they still held it when the run
  // removed F, F would only have been marked, and P would not have been empty.
  EXPECT_EQ(result.error_count, 0) << testing::Narrow(host.MessageTexts().back());
  EXPECT_EQ(result.items_destroyed, static_cast<int>(items.size()));
  EXPECT_EQ(fake.Children(FakePath(u"w")), std::vector<Text>{FakePath(u"w/keep")});
}

// ---- a real tree ----

std::vector<Text> SortedEntries(const Text& folder) {
  std::vector<Text> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(folder))) {
    names.push_back(entry.path().filename().u16string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class FilesInFlightOnDisk : public ::testing::Test {
 protected:
  // Two folders of small files, one inside the other, and the files of a third folder, among
  // them (where the system has them) a pipe that cannot be overwritten.
  std::vector<Text> Build(const Text& root) {
    const Text sep(1, platform::kPathSeparator);
    std::vector<Text> items;
    const Text outer = root + sep + u"outer";
    const Text inner = outer + sep + u"inner";
    const Text kept = root + sep + u"kept";
    std::filesystem::create_directories(std::filesystem::path(inner));
    std::filesystem::create_directories(std::filesystem::path(kept));
    items.push_back(outer);
    for (int i = 0; i < 12; ++i) {
      items.push_back(outer + sep + u"o" + Text(1, static_cast<char16_t>(u'a' + i)));
      EXPECT_TRUE(testing::WriteTestFile(items.back(), std::string(4096 + i, 'x')));
    }
    items.push_back(inner);
    for (int i = 0; i < 9; ++i) {
      items.push_back(inner + sep + u"i" + Text(1, static_cast<char16_t>(u'a' + i)));
      EXPECT_TRUE(testing::WriteTestFile(items.back(), std::string(100 * i, 'y')));
    }
    items.push_back(kept + sep + u"before");
    EXPECT_TRUE(testing::WriteTestFile(items.back(), "before"));
#ifndef _WIN32
    items.push_back(kept + sep + u"pipe");
    EXPECT_EQ(::mkfifo(platform::TextToUtf8(items.back()).c_str(), 0600), 0);
#endif
    items.push_back(kept + sep + u"after");
    EXPECT_TRUE(testing::WriteTestFile(items.back(), "after"));
    return items;
  }

  RunRecord Run(const std::vector<Text>& items, int in_flight) {
    platform::FileSystem& fs = platform::SystemFileSystem();
    RecordingHost host;
    FakeClock clock;
    RunFlags flags;
    RunContext context(host, fs, clock, flags);
    context.passes = 2;
    context.delay = 0;
    context.files_in_flight = in_flight;
    host.SetItems(items, [&](TextView path) {
      platform::EntryInfo info;
      fs.Inspect(path, info);
      return info.identity;
    });
    RunRecord record;
    testing::RunOnFreshThread([&] { record.result = RunDeletion(context); });
    record.messages = host.Messages();
    return record;
  }
};

TEST_F(FilesInFlightOnDisk, FilesAreDestroyedFoldersGoAndTheLinesAreThoseOfASerialRun) {
  testing::TempFolder serial_root, pooled_root;
  const std::vector<Text> serial_items = Build(serial_root.path());
  const RunRecord serial = Run(serial_items, 1);
  const std::vector<Text> pooled_items = Build(pooled_root.path());
  const RunRecord pooled = Run(pooled_items, 4);

  // Only the folder that was not listed is left, with what could not go in it: the pipe.
  EXPECT_EQ(SortedEntries(pooled_root.path()), std::vector<Text>{u"kept"});
  const Text kept = pooled_root.path() + Text(1, platform::kPathSeparator) + u"kept";
#ifdef _WIN32
  EXPECT_TRUE(SortedEntries(kept).empty());
  EXPECT_EQ(pooled.result.error_count, 0);
#else
  EXPECT_EQ(SortedEntries(kept), std::vector<Text>{u"pipe"});
  EXPECT_EQ(pooled.result.items_failed, 1);
#endif
  EXPECT_EQ(pooled.result.items_destroyed, serial.result.items_destroyed);
  EXPECT_EQ(pooled.result.written_bytes, serial.result.written_bytes);
  // The same lines, the paths aside (each run has a folder of its own).
  ASSERT_EQ(pooled.messages.size(), serial.messages.size());
  for (std::size_t i = 0; i < serial.messages.size(); ++i) {
    Text expected = serial.messages[i].text;
    for (std::size_t at; (at = expected.find(serial_root.path())) != Text::npos;) {
      expected.replace(at, serial_root.path().size(), pooled_root.path());
    }
    EXPECT_EQ(testing::Narrow(pooled.messages[i].text), testing::Narrow(expected)) << "line " << i;
  }
}

}  // namespace
}  // namespace nulvane::engine
