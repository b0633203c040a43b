#pragma once
#include "app/setup_job.h"

// The whole download of one run: the URLs in order, up to three attempts each, resuming
// from the bytes already in the installer file.
[[nodiscard]] SetupResult downloadInstaller(SetupJob& job);
