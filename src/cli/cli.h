// The console front end: argument parsing, dispatch and exit codes.
#pragma once

#include <vector>

#include "platform/text.h"

namespace nulvane::cli {

// Exit codes of nulvane-cli.
enum ExitCode : int {
  kExitOk = 0,       // everything done without errors
  kExitFailed = 1,   // one or more items failed (or a file could not be written)
  kExitUsage = 2,    // unknown option, bad number, missing path
  kExitAborted = 3,  // aborted by the user
};

// Runs the program with `args` (without the program name). `program` is the name the help
// text shows.
int RunCli(TextView program, const std::vector<Text>& args);

}  // namespace nulvane::cli
