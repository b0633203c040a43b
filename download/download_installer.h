#pragma once
// The whole download of one run: the URLs in order, up to three attempts each, resuming
// from the bytes already in the installer file.

#include "download/attempt_download.h"
#include "download/partial_download.h"

#include <string>

[[nodiscard]] SetupResult downloadInstaller(SetupJob& job);

// What the retry loop calls, so that a unit test can script the attempts and the clock.
struct RetrySteps {
    AttemptOutcome (*attempt)(SetupJob& job, const std::wstring& url, HANDLE file, FilePosition at);
    void (*sleep)(DWORD milliseconds);
    const PartialDownloadIo* partial;
};

extern const RetrySteps kRetrySteps;

[[nodiscard]] SetupResult downloadInstallerWith(SetupJob& job, const RetrySteps& steps);
