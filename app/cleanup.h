#pragma once
#include <windows.h>

struct SetupJob;

// Closes verifiedFile if it is open and marks it closed.
void closeVerifiedFile(SetupJob& job);

// Deletes the installer file through a handle of its own (never through a link), waiting a
// moment while someone holds it. Call it after closeVerifiedFile. Returns the last error, 0
// when the file went.
DWORD deleteInstallerFile(const SetupJob& job);

// A folder removal that failed without the held-retry's own line: anything but a folder that
// is gone already or a hold that was logged when it was given up.
[[nodiscard]] bool folderLeftUnreported(DWORD error);

// Closes the checked file, deletes the installer and removes the working folder if empty. A
// file or folder held for a moment is waited for; a folder that stays is logged.
void cleanUpJob(SetupJob& job);
