#pragma once
// A full installer at hand (--instalador PATH) takes the download's place: it is copied into
// the working folder, and the copy is checked and started as a download would be. The file at
// PATH is only ever read.

#include "job/setup_result.h"

struct SetupJob;

// Copies job.localInstaller to job.installerPath: sizes as the download accepts them, the same
// free space, Cancel seen after every chunk, the dialog on its checking face. No request is
// made and nothing falls back to the download: a file that cannot be read ends with its code.
[[nodiscard]] SetupResult copyLocalInstaller(SetupJob& job);

// The worker's way to the installer file: the copy when --instalador named one, else the
// download.
[[nodiscard]] SetupResult obtainInstaller(SetupJob& job);
