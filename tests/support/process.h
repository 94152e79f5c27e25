// Runs a program of the build and collects what it printed, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

#include "platform/text.h"

namespace nulvane::testing {

struct ProcessResult {
  int exit_code = -1;
  std::string out;  // standard output, as bytes (UTF-8)
  std::string err;  // standard error
};

// Runs `program` with `args`, standard input empty, and waits for it.
ProcessResult RunProgram(const Text& program, const std::vector<Text>& args);

// The console front end of this build: <build>/src/nulvane-cli(.exe), found from the running
// test program's own path (<build>/tests/...).
Text CliPath();

}  // namespace nulvane::testing
