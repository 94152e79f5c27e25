// Speed of the size formatter and of a one-pass wipe through the system's file system.
//
// NULVANE_BENCH_DIR names the folder the wipe benchmark writes its files in (default: the
// user's temporary folder); NULVANE_BENCH_LARGE=1 adds a 256 MiB size to the 64 MiB one.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "engine/display.h"
#include "engine/wipe.h"
#include "lang/language_table.h"
#include "lang/number_text.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace {

using nulvane::Text;
using nulvane::TextView;
namespace engine = nulvane::engine;
namespace lang = nulvane::lang;
namespace platform = nulvane::platform;

class QuietHost final : public engine::LinesOnlyHost {
 public:
  int errors = 0;
  void AddMessage(TextView, engine::MessageKind kind) override {
    if (kind == engine::MessageKind::kError) ++errors;
  }
};

Text BenchFolder() {
  if (const char* folder = std::getenv("NULVANE_BENCH_DIR"); folder && *folder) {
    Text path = platform::Utf8ToText(folder);
    if (path.back() != platform::kPathSeparator) path.push_back(platform::kPathSeparator);
    return path;
  }
  return platform::TempFolder();
}

// Writes `size` bytes of non-zero data to a new file and forces them to the device, so that
// the timed wipe does not also pay for writing them back.
bool MakeFile(const Text& path, std::uint64_t size) {
  platform::FileSystem& fs = platform::SystemFileSystem();
  std::unique_ptr<platform::OpenFile> file;
  if (!fs.CreateNewFile(path, file)) return false;
  std::vector<unsigned char> block(1 << 20, 0x5A);
  for (std::uint64_t done = 0; done < size;) {
    std::size_t written = 0;
    const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
    if (!file->Write(block.data(), chunk, written) || written == 0) return false;
    done += written;
  }
  return file->Flush() && file->Close();
}

void BM_FormatByteSize(benchmark::State& state) {
  std::uint64_t bytes = 123456789;
  for (auto _ : state) {
    benchmark::DoNotOptimize(lang::FormatByteSize(bytes));
    bytes += 7919;
  }
}
BENCHMARK(BM_FormatByteSize);

void BM_FormatByteSizeGivenFormat(benchmark::State& state) {
  const platform::NumberFormat format;
  std::uint64_t bytes = 123456789;
  for (auto _ : state) {
    benchmark::DoNotOptimize(lang::FormatByteSize(bytes, format));
    bytes += 7919;
  }
}
BENCHMARK(BM_FormatByteSizeGivenFormat);

// One pass over a file of state.range(0) MiB: 2048-byte writes, one flush, the date, seven
// renames and the removal, as a run does it.
void BM_WipeOnePass(benchmark::State& state) {
  nulvane::lang::LoadLanguageTable();
  const std::uint64_t size = static_cast<std::uint64_t>(state.range(0)) << 20;
  const Text path = BenchFolder() + u"nulvane-wipe-bench.bin";
  QuietHost host;
  engine::ProgressDisplay progress(host, platform::SystemClock());
  std::array<unsigned char, 3000> zeros{};
  engine::WipeTools tools{platform::SystemFileSystem(), host, progress, zeros};
  for (auto _ : state) {
    state.PauseTiming();
    platform::SystemFileSystem().DeleteFile(path);
    if (!MakeFile(path, size)) {
      state.SkipWithError("cannot create the test file");
      break;
    }
    engine::RunTally tally;
    tally.total_bytes = size;
    progress.Start();
    // A run changes an entry only through a reference that names its identity, as the list
    // recorded it when it looked.
    platform::EntryRef entry(path);
    platform::EntryInfo info;
    if (!platform::SystemFileSystem().Inspect(entry, info)) {
      state.SkipWithError("cannot examine the test file");
      break;
    }
    entry.identity = info.identity;
    state.ResumeTiming();
    engine::WipeItem(tools, entry, 1, tally);
    if (tally.error_count != 0 || tally.written_bytes != size) {
      state.SkipWithError("the wipe failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_WipeOnePass)
    ->Apply([](benchmark::internal::Benchmark* bench) {
      bench->Arg(64);
      if (const char* large = std::getenv("NULVANE_BENCH_LARGE"); large && *large == '1') {
        bench->Arg(256);
      }
    })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
