#pragma once
// The run loop: the worker (on its thread or inline), Retry, the installer's launch, clean-up.

#include "app/setup_job.h"

inline constexpr DWORD kWorkerWaitMilliseconds = 15000;

// Returns the process exit code.
[[nodiscard]] int runSetupCycle(SetupJob& job);
