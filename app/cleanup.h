#pragma once
#include <windows.h>

struct SetupJob;

// Closes verifiedFile if it is open and marks it closed.
void closeVerifiedFile(SetupJob& job);

// Closes the checked file (its read handle's sharing forbids the deletion), then deletes the
// installer file and its validators (download/partial_download.h). Returns the installer
// file's error, 0 when it went or there is none.
DWORD discardInstallerFile(SetupJob& job);

// The worker outlived its wait and may still use the file: the line that says where it stays.
void logWhereTheFileStays(const SetupJob& job);

// Closes the checked file, deletes the installer and removes the working folder if empty. A
// file or folder held for a moment is waited for; a file or folder that stays is logged.
void cleanUpJob(SetupJob& job);
