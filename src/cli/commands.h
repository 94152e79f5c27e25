// The console's main jobs: destroy paths, list what would be destroyed, fill free space.
#pragma once

#include <optional>
#include <vector>

#include "platform/text.h"

namespace nulvane::cli {

struct JobOptions {
  std::optional<int> passes;  // -p, already within 1..35
  std::optional<int> delay;   // -d, already within 0..10
  bool quiet = false;
  bool verify = false;  // --verify: read every file back after its last pass
  std::vector<Text> paths;
};

// Each returns the process's exit code.
int DestroyPaths(const JobOptions& options);
int ListPaths(const JobOptions& options);
int FillFreeSpaceOf(const JobOptions& options);

}  // namespace nulvane::cli
