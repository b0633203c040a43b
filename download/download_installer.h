#pragma once
#include "app/setup_job.h"

#include <cstdint>
#include <string>

// The whole download of one run: the URLs in order, up to three attempts each, resuming
// from the bytes already in the installer file.
[[nodiscard]] SetupResult downloadInstaller(SetupJob& job);

// What the retry loop calls, so that a unit test can script the attempts and the clock.
struct RetrySteps {
    SetupResult (*attempt)(SetupJob& job, const std::wstring& url, HANDLE file,
                           std::int64_t& resumeOffset, std::int64_t& knownTotal);
    void (*sleep)(DWORD milliseconds);
};

extern const RetrySteps kRetrySteps;

[[nodiscard]] SetupResult downloadInstallerWith(SetupJob& job, const RetrySteps& steps);
