#pragma once
#include "app/job/setup_result.h"

#include <string>

struct SetupJob;

// The installer's whole command line: its own path in double quotes, nothing else.
std::wstring installerCommandLine(const std::wstring& installerPath);

// Starts the checked installer and waits for it without limit. Ok for exit code 0,
// InstallerFailed with the code in detail otherwise, LaunchFailed when it does not start.
[[nodiscard]] SetupResult launchInstaller(SetupJob& job);
