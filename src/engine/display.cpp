#include "engine/display.h"

#include <cmath>

#include "lang/language_table.h"
#include "platform/format.h"

namespace nulvane::engine {

using platform::Format;

Text FormatDuration(double seconds) {
  // 2^31 minutes is far beyond any estimate worth showing; it also keeps the casts defined.
  if (!std::isfinite(seconds) || seconds < 0 || seconds >= 60.0 * 2147483647.0) return u"?";
  const auto s = static_cast<int>(std::fmod(seconds, 60.0));
  if (seconds < 60) {
    if (s < 1) return Format(u"< 1 %s", lang::Txt(lang::TextId::kSeconds));
    return Format(u"%d %s", s, lang::Txt(lang::TextId::kSeconds));
  }
  const auto minutes = static_cast<int>(seconds / 60);
  return Format(u"%d %s, %d %s", minutes, lang::Txt(lang::TextId::kMinutes), s,
                lang::Txt(lang::TextId::kSeconds));
}

void AddMessage(RunHost& host, TextView text, MessageKind kind) { host.AddMessage(text, kind); }

void SetCommandsEnabled(RunHost& host, bool enabled) { host.SetCommandsEnabled(enabled); }

void ProgressDisplay::Start() {
  start_ms_ = clock_.NowMs();
  last_ms_ = start_ms_;
}

bool ProgressDisplay::Report(std::uint64_t done, std::uint64_t total) {
  const std::uint32_t now = clock_.NowMs();
  // Unsigned difference: correct across the clock's wrap-around.
  if (static_cast<std::uint32_t>(now - last_ms_) <= 100) return false;
  Show(now, done, total);
  return true;
}

void ProgressDisplay::ReportFinal(std::uint64_t done, std::uint64_t total) {
  Show(clock_.NowMs(), done, total);
}

void ProgressDisplay::Show(std::uint32_t now, std::uint64_t done, std::uint64_t total) {
  // An empty target counts as complete rather than as 0 / 0.
  const double fraction = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  last_ms_ = now;
  const Text done_text = lang::FormatByteSize(done);
  const Text total_text = lang::FormatByteSize(total);
  const double elapsed = static_cast<double>(static_cast<std::uint32_t>(now - start_ms_)) / 1000.0;
  const double remaining = fraction > 0 ? elapsed / fraction * (1 - fraction) : NAN;
  const double percent = fraction * 100;

  Progress report;
  report.done_bytes = done;
  report.total_bytes = total;
  report.percent = percent;
  report.amount =
      Format(u"%.1lf %% %s %s %s", percent, done_text, lang::Txt(lang::TextId::kOf), total_text);
  report.times =
      Format(u"%s: %s || %s: %s", lang::Txt(lang::TextId::kRemaining), FormatDuration(remaining),
             lang::Txt(lang::TextId::kElapsed), FormatDuration(elapsed));
  report.title =
      Format(u"[%.1lf %%] %s", percent, lang::GetGeneralText(lang::GeneralTextId::kTitle));
  host_.ShowProgress(report);
}

}  // namespace nulvane::engine
