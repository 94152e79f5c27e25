// WipeItem on a real file system, as a run calls it: for the tests that read the outcome back
// from the disk.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/wipe.h"
#include "engine_test_support.h"
#include "support/fake_clock.h"
#include "support/recording_host.h"

namespace nulvane::testing {

struct SystemWipe {
  explicit SystemWipe(platform::FileSystem& fs = platform::SystemFileSystem())
      : tools{fs, host, progress, zeros} {}
  void Wipe(const std::string& path, int passes) {
    RunOnFreshThread([&] {
      // As the list hands it over: with the identity it recorded at its first look.
      const Text text = platform::Utf8ToText(path);
      platform::EntryInfo info;
      tools.fs.Inspect(text, info);
      engine::WipeItem(tools,
                       platform::EntryRef(text, platform::ParentAnchorLength(text), info.identity),
                       passes, tally);
    });
  }
  std::vector<Text> Warnings() const { return host.MessagesOfKind(engine::MessageKind::kWarning); }
  std::vector<Text> Errors() const { return host.MessagesOfKind(engine::MessageKind::kError); }

  RecordingHost host;
  FakeClock clock;
  engine::ProgressDisplay progress{host, clock};
  std::array<unsigned char, 3000> zeros{};
  engine::WipeTools tools;
  engine::RunTally tally;
};

}  // namespace nulvane::testing
