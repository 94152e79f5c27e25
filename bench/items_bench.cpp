// The item list's speed and size:
//  - expanding a folder tree of 100,000 entries, next to `find DIR | wc -l` on the same tree
//    in the same run (goal: expansion within 1.5 times find's time), and next to find made to
//    read every entry's size as expansion must (`find DIR -printf '%s\n'`);
//    bench/expand_vs_find.sh prints the ratios;
//  - the memory of 1,000,000 stored items with their rows (goal: below 200 MB; the store
//    itself, rows included, under 70 bytes an item), then of a deletion run's snapshot of
//    those rows beside them (a few bytes a row), next to a plain std::map of std::u16string
//    for comparison;
//  - storing 100,000 keys as a folder listing stores them (200 folders of 500 names, each
//    folder's names in a scrambled order as a directory gives them) and reading their order.
// POSIX only (the tree and the memory figures use the C library's own counters).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "items/item_list.h"
#include "items/item_store.h"
#include "platform/file_system.h"

namespace {

using nulvane::Text;
using nulvane::TextView;
using nulvane::items::ItemList;
using nulvane::items::ItemListDisplay;
namespace platform = nulvane::platform;

class NoDisplay final : public ItemListDisplay {
 public:
  void SetRowCount(int) override {}
  void SetStatusText(TextView) override {}
  void AddWarning(TextView) override {}
};

// 10 folders of 10 folders of 1,000 files: 100,000 files and 110 folders below the root.
constexpr int kTop = 10;
constexpr int kMiddle = 10;
constexpr int kFiles = 1000;
constexpr std::size_t kTreeEntries = kTop + kTop * kMiddle + kTop * kMiddle * kFiles;

// The tree lives in a fresh temporary folder removed at the end, or, when the environment names
// one in NULVANE_ITEMS_BENCH_TREE, in that folder: built there once and kept, since building
// 100,000 files can take a minute on a slow disk.
class BenchTree {
 public:
  BenchTree() {
    if (const char* kept = std::getenv("NULVANE_ITEMS_BENCH_TREE"); kept && *kept) {
      root_ = kept;
      keep_ = true;
      if (std::filesystem::exists(CompleteMark())) return;
    } else {
      root_ = std::filesystem::temp_directory_path() /
              ("nulvane-items-bench-" + std::to_string(getpid()));
    }
    std::filesystem::create_directories(root_);
    for (int top = 0; top < kTop; ++top) {
      for (int middle = 0; middle < kMiddle; ++middle) {
        const auto folder =
            root_ / ("top-" + std::to_string(top)) / ("middle-" + std::to_string(middle));
        std::filesystem::create_directories(folder);
        for (int file = 0; file < kFiles; ++file) {
          const auto path = folder / ("file-" + std::to_string(file) + ".dat");
          const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
          if (fd < 0 || write(fd, "x", 1) != 1 || close(fd) != 0) std::abort();
        }
      }
    }
    if (keep_) std::ofstream(CompleteMark()) << "built\n";
  }
  ~BenchTree() {
    if (keep_) return;
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  const std::filesystem::path& root() const { return root_; }

 private:
  // The mark of a finished tree, beside it (inside, it would be one entry more).
  std::filesystem::path CompleteMark() const { return root_.string() + ".complete"; }

  std::filesystem::path root_;
  bool keep_ = false;
};

const BenchTree& Tree() {
  static const BenchTree tree;
  return tree;
}

void BM_ExpandTree(benchmark::State& state) {
  const Text root = platform::Utf8ToText(Tree().root().string());
  NoDisplay display;
  for (auto _ : state) {
    ItemList list(platform::SystemFileSystem(), display);
    list.ExpandFolder(root);
    if (list.StoredCount() != kTreeEntries) {
      state.SkipWithError("expansion missed entries");
      break;
    }
    benchmark::DoNotOptimize(list.StoredCount());
  }
  state.counters["entries"] = static_cast<double>(kTreeEntries);
}
BENCHMARK(BM_ExpandTree)->Unit(benchmark::kMillisecond)->UseRealTime();

// Runs `command` (which prints one line per entry of the tree, root included, through wc -l)
// once per iteration.
void RunFindCommand(benchmark::State& state, const std::string& command) {
  for (auto _ : state) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
      state.SkipWithError("popen failed");
      break;
    }
    long lines = 0;
    if (std::fscanf(pipe, "%ld", &lines) != 1) lines = -1;
    pclose(pipe);
    // find prints the root as well.
    if (lines != static_cast<long>(kTreeEntries) + 1) {
      state.SkipWithError("find saw another tree");
      break;
    }
  }
}

void BM_FindWcOnTheSameTree(benchmark::State& state) {
  RunFindCommand(state, "find '" + Tree().root().string() + "' | wc -l");
}
BENCHMARK(BM_FindWcOnTheSameTree)->Unit(benchmark::kMillisecond)->UseRealTime();

// find made to read every entry's size, as expansion must: one stat per entry.
void BM_FindSizesOnTheSameTree(benchmark::State& state) {
  RunFindCommand(state, "find '" + Tree().root().string() + "' -printf '%s\\n' | wc -l");
}
BENCHMARK(BM_FindSizesOnTheSameTree)->Unit(benchmark::kMillisecond)->UseRealTime();

// Heap in use: small blocks plus the blocks malloc maps on their own.
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// A realistic path of about 60 characters for item `i`.
Text ItemPath(int i) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "/home/someone/documents/archive/f%03d/g%03d/file-%07d.dat",
                i / 100000, (i / 1000) % 100, i);
  return platform::Utf8ToText(buffer);
}

// Every path exists as a small file: the rows hold every stored item.
class EverythingExists final : public platform::FileSystem {
 public:
  using IoResult = platform::IoResult;
  IoResult Inspect(const platform::EntryRef&, platform::EntryInfo& info) override {
    info = {platform::EntryKind::kFile, 1, false};
    return IoResult::Ok();
  }
  IoResult FindEntry(TextView path, platform::EntryInfo& info) override {
    return Inspect(path, info);
  }
  IoResult IdentifyAnchor(TextView, platform::EntryIdentity& identity) override {
    identity = {1, 1, 0, 0, platform::IdentityStamp::kNone, true};
    return IoResult::Ok();
  }
  IoResult ListFolder(const platform::EntryRef&,
                      const std::function<void(TextView, const platform::EntryInfo&)>&) override {
    return No();
  }
  IoResult OpenForOverwrite(const platform::EntryRef&, std::unique_ptr<platform::OpenFile>&,
                            platform::OpenedFileInfo&) override {
    return No();
  }
  IoResult OpenFolderForStamp(const platform::EntryRef&,
                              std::unique_ptr<platform::OpenFile>&) override {
    return No();
  }
  IoResult CreateNewFile(TextView, std::unique_ptr<platform::OpenFile>&,
                         platform::Caching) override {
    return No();
  }
  IoResult RenameNoReplace(const platform::EntryRef&, TextView, platform::EntryIdentity&) override {
    return No();
  }
  IoResult DeleteFile(const platform::EntryRef&) override { return No(); }
  IoResult RemoveFolder(const platform::EntryRef&) override { return No(); }
  IoResult CreateFolder(TextView) override { return No(); }
  IoResult GetVolumeSpace(TextView, platform::VolumeSpace&) override { return No(); }
  IoResult MakeFillFolder(TextView, TextView, std::unique_ptr<platform::FillFolder>&) override {
    return No();
  }
  Text FullPath(TextView path) override { return Text(path); }

 private:
  static IoResult No() { return IoResult::Fail(IoResult::kGenericFailure); }
};

constexpr int kMillion = 1000000;

void BM_MillionItemsMemory(benchmark::State& state) {
  EverythingExists file_system;
  NoDisplay display;
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    ItemList list(file_system, display);
    Text path;
    for (int i = 0; i < kMillion; ++i) {
      path = ItemPath(i);
      list.StoreItem(path, static_cast<std::uint64_t>(i));
    }
    list.RebuildRows();
    const std::size_t after = HeapInUse();
    if (list.RowCount() != kMillion) state.SkipWithError("rows missing");
    // A run's rows, read through once as a run reads them.
    const platform::QueuedItems snapshot = list.SnapshotRows();
    const std::size_t with_snapshot = HeapInUse();
    std::size_t units = 0;
    for (const platform::QueuedItemView row : snapshot) units += row.path.size();
    if (snapshot.size() != kMillion || units < kMillion) state.SkipWithError("snapshot short");
    state.counters["heap_MB"] = static_cast<double>(after - before) / 1e6;
    state.counters["bytes_per_item"] = static_cast<double>(after - before) / kMillion;
    state.counters["snapshot_bytes_per_row"] =
        static_cast<double>(with_snapshot - after) / kMillion;
  }
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  state.counters["max_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1e3;
}
BENCHMARK(BM_MillionItemsMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

// The same keys in a plain std::map of std::u16string, for comparison.
void BM_MillionItemsPlainMapMemory(benchmark::State& state) {
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    std::map<Text, std::uint64_t> map;
    for (int i = 0; i < kMillion; ++i) map.emplace(ItemPath(i), static_cast<std::uint64_t>(i));
    const std::size_t after = HeapInUse();
    state.counters["heap_MB"] = static_cast<double>(after - before) / 1e6;
    state.counters["bytes_per_item"] = static_cast<double>(after - before) / kMillion;
  }
}
BENCHMARK(BM_MillionItemsPlainMapMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

// The store alone, as a listing of a wide tree fills it: the folders' own keys first, then each
// folder's names one after another. The order is read once at the end, which sorts and merges
// everything stored.
void BM_StoreFolderListingsAndReadTheOrder(benchmark::State& state) {
  constexpr int kFolders = 200;
  constexpr int kNames = 500;
  const auto key = [](int folder, int name) {
    char buffer[96];
    if (name < 0) {
      std::snprintf(buffer, sizeof buffer, "/home/someone/tree/d%d", folder);
    } else {
      std::snprintf(buffer, sizeof buffer, "/home/someone/tree/d%d/f%d", folder, name);
    }
    return platform::Utf8ToText(buffer);
  };
  std::vector<Text> keys;
  for (int folder = 0; folder < kFolders; ++folder) keys.push_back(key(folder, -1));
  for (int folder = 0; folder < kFolders; ++folder) {
    // A fixed stride through the names: an order unrelated to theirs, as a directory's is.
    for (int i = 0; i < kNames; ++i) keys.push_back(key(folder, (i * 263) % kNames));
  }
  for (auto _ : state) {
    nulvane::items::ItemStore store;
    for (const Text& each : keys) store.Store(each, 1);
    std::uint64_t first = 0;
    for (const auto entry : store) {
      first = entry;
      break;
    }
    benchmark::DoNotOptimize(first);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
}
BENCHMARK(BM_StoreFolderListingsAndReadTheOrder)->Unit(benchmark::kMillisecond);

}  // namespace
