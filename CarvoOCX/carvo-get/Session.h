#pragma once
// One run of carvo-get: a DownLoad control created by its class identifier, driven through its
// dispatch interface, heard through its event interface, hosted on the console.

#include "Options.h"

namespace carvo::cli {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs the whole download (or probe) that options describe and returns the exit status.
int runSession(const Options& options);

}  // namespace carvo::cli
