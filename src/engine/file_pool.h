// The workers of a deletion run that destroy several small regular files at once. The wait for
// each file's flush bounds a run of many small files; with a few files in flight the device
// takes their flushes together. Each file still goes through WipeItem whole (its checked
// passes, flush, stamp, renames and removal, every identity check), on one worker; what it
// reports is kept for the run's thread, which hands it to the host in the order of the items.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "engine/run_host.h"
#include "engine/wipe.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace nulvane::engine {

// Regular files a run destroys at once. 10,000 files of 4 KiB in 100 folders, one pass, ext4
// on a shared virtual disk, release build, each run beside the plain serial program of
// bench/serial_floor.cpp on a fresh tree. Four rounds on a quiet disk, time against that
// program: 1 at a time 1.07-1.24x (median 1.16), 4 at once 0.55-0.85x (0.73), 6 at once
// 0.58-0.76x (0.67), 8 at once 0.61-0.68x (0.66). Three rounds while other work kept the disk
// busy: 0.99x, 0.17x, 0.11x and 0.11x. Six takes the flushes together about as well as eight,
// with fewer threads each holding folders open.
inline constexpr int kFilesInFlight = 6;
inline constexpr int kMaxFilesInFlight = 8;

// Files up to this size (as the run's first look found them) are handed to the workers; a
// larger one is destroyed on the run's thread, where its progress shows while it is written.
inline constexpr std::uint64_t kPooledFileBytes = 1 << 20;

// What destroying one item reported: its lines in the order it added them and what it added to
// the run's counters.
struct ItemReport {
  struct Line {
    Text text;
    MessageKind kind = MessageKind::kInfo;
  };
  std::vector<Line> lines;
  RunTally tally;
};

class FilePool {
 public:
  // Starts `workers` (1..kMaxFilesInFlight) threads that destroy files with `pass_count` passes
  // through `fs`, writing from `zero_buffer`; `verify` as WipeTools::verify. `fs` and
  // `zero_buffer` must outlive the pool.
  FilePool(platform::FileSystem& fs, const std::array<unsigned char, 3000>& zero_buffer,
           bool verify, int pass_count, int workers);
  // Waits for the items in flight (their reports are dropped) and ends the workers.
  ~FilePool();
  FilePool(const FilePool&) = delete;
  FilePool& operator=(const FilePool&) = delete;

  // The workers started: fewer than asked (none, even) when the system gave no more threads.
  int Workers() const { return static_cast<int>(workers_.size()); }
  // Items handed over whose reports were not taken back yet.
  std::size_t InFlight() const { return jobs_.size(); }

  // Hands the regular file `item` to a free worker; InFlight() must be below Workers(). The job
  // keeps its own copy of the row: a run's rows may be paths made when they are read.
  void Start(platform::QueuedItem item);
  // Waits until the oldest item handed over is done and returns its report: reports come back
  // in the order the items were started.
  ItemReport TakeOldest();
  // Waits until every item in flight is done (their reports stay to be taken) and every worker
  // has closed the folders it held: the run's thread may then change those folders (rename or
  // remove one) with no handle of a worker in the way, which on Windows would leave a removed
  // folder pending and its parent not empty.
  void Quiesce();

 private:
  struct Job {
    explicit Job(platform::QueuedItem row) : item(std::move(row)) {}
    platform::QueuedItem item;
    ItemReport report;
    bool done = false;
  };
  struct Worker;

  void Work(Worker& worker);

  platform::FileSystem& fs_;
  const std::array<unsigned char, 3000>& zero_buffer_;
  const bool verify_;
  const int pass_count_;

  std::mutex mutex_;
  std::condition_variable changed_;
  // Only the run's thread adds and removes jobs; a worker changes a job it took only under
  // mutex_ (done) or before that (its report, which nobody reads before done).
  std::deque<std::unique_ptr<Job>> jobs_;
  std::deque<Job*> waiting_;  // started, not yet taken by a worker
  bool ending_ = false;
  // An item was started since the last Quiesce (only the run's thread reads and writes it).
  bool started_since_quiesce_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace nulvane::engine
