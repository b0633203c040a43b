#pragma once
#include "job/setup_result.h"

struct SetupJob;

// Authenticode signature, pinned signer and minimum product version of the downloaded file.
// Leaves verifiedFile open on the file whenever it could be opened.
[[nodiscard]] SetupResult verifyInstaller(SetupJob& job);
