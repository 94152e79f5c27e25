// Helpers shared by the engine's tests.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace nulvane::testing {

// Runs `work` on a new thread and waits for it, as every run and fill runs on a thread of its
// own.
void RunOnFreshThread(const std::function<void()>& work);

std::string Narrow(TextView text);

// True when every byte is zero.
bool AllZero(const std::vector<unsigned char>& bytes);

}  // namespace nulvane::testing
