// Start-up cost of the language table: decoding the built-in LZARI blob and parsing it, and
// the cost of one lookup and of the type-safe formatter.
#include <benchmark/benchmark.h>

#include "lang/language_table.h"
#include "lang/lzari.h"
#include "platform/format.h"

namespace nulvane::lang {
extern const unsigned char kLanguageTableBlob[];
extern const std::size_t kLanguageTableBlobSize;
}  // namespace nulvane::lang

namespace {

using namespace nulvane;

void BM_DecodeBuiltInBlob(benchmark::State& state) {
  std::uint32_t size = 0;
  for (auto _ : state) {
    auto bytes = lang::DecodeLzariBlob(lang::kLanguageTableBlob, lang::kLanguageTableBlobSize,
                                       1u << 20, size);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.counters["decoded_bytes"] = size;
  state.counters["blob_bytes"] = static_cast<double>(lang::kLanguageTableBlobSize);
}
BENCHMARK(BM_DecodeBuiltInBlob)->Unit(benchmark::kMillisecond);

void BM_LoadLanguageTable(benchmark::State& state) {
  for (auto _ : state) {
    lang::LanguageTable table;
    benchmark::DoNotOptimize(
        table.LoadBlob(lang::kLanguageTableBlob, lang::kLanguageTableBlobSize));
  }
}
BENCHMARK(BM_LoadLanguageTable)->Unit(benchmark::kMillisecond);

// What the language menu and the translators' export cost: every language decoded and parsed.
void BM_LoadWholeLanguageTable(benchmark::State& state) {
  for (auto _ : state) {
    lang::LanguageTable table;
    table.LoadBlob(lang::kLanguageTableBlob, lang::kLanguageTableBlobSize);
    benchmark::DoNotOptimize(table.SlotCount());
  }
}
BENCHMARK(BM_LoadWholeLanguageTable)->Unit(benchmark::kMillisecond);

void BM_GetText(benchmark::State& state) {
  lang::LoadLanguageTable();
  lang::Table().SetCurrentLanguage(0);
  int id = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(lang::Table().GetText(id));
    id = (id + 1) & 255;
  }
}
BENCHMARK(BM_GetText);

void BM_FormatStatusLine(benchmark::State& state) {
  for (auto _ : state) {
    Text text = platform::Format(u"%.1lf %% %s %s %s", 42.5, u"1.2 MB", u"of", u"2.9 MB");
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_FormatStatusLine);

}  // namespace
