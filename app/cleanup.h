#pragma once
#include <windows.h>

struct SetupJob;

// Closes verifiedFile if it is open and marks it closed.
void closeVerifiedFile(SetupJob& job);

// Closes the checked file (its read handle's sharing forbids the deletion), then deletes the
// installer through a handle of its own (never through a link), waiting a moment while someone
// holds it. A failure that is not a hold already logged gets its own line. Returns the last
// error, 0 when the file went or there is none.
DWORD discardInstallerFile(SetupJob& job);

// A deletion or removal that failed without the held-retry's own line: anything but a file or
// folder that is gone already or a hold that was logged when it was given up.
[[nodiscard]] bool failureLeftUnreported(DWORD error);

// The worker outlived its wait and may still use the file: the line that says where it stays.
void noteWorkLeftToWorker(const SetupJob& job);

// Closes the checked file, deletes the installer and removes the working folder if empty. A
// file or folder held for a moment is waited for; a file or folder that stays is logged.
void cleanUpJob(SetupJob& job);
