// Helpers shared by the engine's tests.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"

namespace nulvane::testing {

// Runs `work` on a new thread and waits for it. Each new thread's random source starts afresh,
// as it does for every run and fill, so the names drawn there are known in advance.
void RunOnFreshThread(const std::function<void()>& work);

// The first `count` name characters a fresh thread draws.
Text FreshThreadCharacters(int count);

std::string Narrow(TextView text);

// True when every byte is zero.
bool AllZero(const std::vector<unsigned char>& bytes);

}  // namespace nulvane::testing
