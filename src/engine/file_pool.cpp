#include "engine/file_pool.h"

#include <system_error>
#include <utility>

#include "engine/display.h"
#include "platform/clock.h"

namespace nulvane::engine {

namespace {

// The host of one worker: keeps the lines of the item at work for the run's thread and
// reaches no user interface (workers never touch windows or the item list).
class LineRecorder final : public LinesOnlyHost {
 public:
  void Use(ItemReport* report) { report_ = report; }

  // Only the lines are kept: the run's thread shows the progress, from the bytes of the items
  // as they are taken back.
  void AddMessage(TextView text, MessageKind kind) override {
    report_->lines.push_back({Text(text), kind});
  }

 private:
  ItemReport* report_ = nullptr;
};

// A clock that stands still: a worker's progress display never finds a report due, so it
// neither shows anything nor reads a clock shared with the run's thread.
class StillClock final : public platform::Clock {
 public:
  std::uint32_t NowMs() override { return 0; }
  void SleepMs(std::uint32_t) override {}
};

}  // namespace

struct FilePool::Worker {
  LineRecorder host;
  StillClock clock;
  ProgressDisplay progress{host, clock};
  // Set by Quiesce; the worker clears it once it has closed the folders it held.
  bool release_folders = false;
  std::thread thread;
};

FilePool::FilePool(platform::FileSystem& fs, const std::array<unsigned char, 3000>& zero_buffer,
                   bool verify, int pass_count, int workers)
    : fs_(fs), zero_buffer_(zero_buffer), verify_(verify), pass_count_(pass_count) {
  if (workers < 1) workers = 1;
  if (workers > kMaxFilesInFlight) workers = kMaxFilesInFlight;
  for (int i = 0; i < workers; ++i) {
    auto worker = std::make_unique<Worker>();
    try {
      worker->thread = std::thread([this, &started = *worker] { Work(started); });
    } catch (const std::system_error&) {
      break;  // the system gives no more threads: the pool works with those it has
    }
    workers_.push_back(std::move(worker));
  }
}

FilePool::~FilePool() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  // A worker finishes the items it took and the ones still waiting before it ends.
  for (const std::unique_ptr<Worker>& worker : workers_) worker->thread.join();
}

void FilePool::Start(platform::QueuedItem item) {
  started_since_quiesce_ = true;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::make_unique<Job>(std::move(item)));
    waiting_.push_back(jobs_.back().get());
  }
  changed_.notify_all();
}

ItemReport FilePool::TakeOldest() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.front()->done; });
  ItemReport report = std::move(jobs_.front()->report);
  jobs_.pop_front();
  return report;
}

void FilePool::Quiesce() {
  // No worker took an item since the last time: none holds a folder.
  if (!started_since_quiesce_) return;
  started_since_quiesce_ = false;
  std::unique_lock lock(mutex_);
  for (const std::unique_ptr<Worker>& worker : workers_) worker->release_folders = true;
  changed_.notify_all();
  changed_.wait(lock, [this] {
    for (const std::unique_ptr<Job>& job : jobs_) {
      if (!job->done) return false;
    }
    for (const std::unique_ptr<Worker>& worker : workers_) {
      if (worker->release_folders) return false;
    }
    return true;
  });
}

void FilePool::Work(Worker& worker) {
  // The folder chain that keeps the folders on the way open between calls belongs to the
  // calling thread (FolderChain::ForThread): each worker holds a scope of its own, so that its
  // files in the same folder do not walk again from the anchor, and no worker uses another's
  // handles.
  platform::OpenFolderScope open_folders(fs_);
  WipeTools tools{fs_, worker.host, worker.progress, zero_buffer_};
  tools.verify = verify_;
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !waiting_.empty() || ending_ || worker.release_folders; });
    if (!waiting_.empty()) {
      Job* job = waiting_.front();
      waiting_.pop_front();
      lock.unlock();
      worker.host.Use(&job->report);
      WipeItem(tools, job->item.Ref(), pass_count_, job->report.tally);
      worker.host.Use(nullptr);
      lock.lock();
      job->done = true;
      changed_.notify_all();
      continue;
    }
    if (worker.release_folders) {
      // Nothing is waiting, so this worker has no item at work: its chain can be emptied. The
      // scope stays; the next item opens the folders on its way anew.
      fs_.ForgetOpenFolders();
      worker.release_folders = false;
      changed_.notify_all();
      continue;
    }
    if (ending_) return;
  }
}

}  // namespace nulvane::engine
