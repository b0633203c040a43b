#pragma once
#include "app/setup_job.h"

// Authenticode signature, pinned signer and minimum product version of the downloaded file.
// Leaves verifiedFile open on the file whenever it could be opened.
[[nodiscard]] SetupResult verifyInstaller(SetupJob& job);
