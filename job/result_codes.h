#pragma once
// One table says what every part does with each result code.

#include "job/setup_result.h"

#include <array>

// How the retry loop treats an attempt's code.
enum class RetryClass {
    Finished,     // return the code at once, no other URL
    SameUrlAgain, // another attempt on the same URL, up to three
    NextUrl,      // give up this URL, no pause
};

// Which text of the failure dialog explains the code.
enum class FailureMessage {
    NotShown,
    DownloadFailed,
    ServerBusy,
    InvalidInstaller,
    DiskSpace,
    InstallFailed,
    Generic,
};

struct ResultInfo {
    SetupResult code;
    RetryClass retryClass;
    FailureMessage message;
    bool failsTrustCheck; // the worker deletes the file, and may download once more
};

extern const std::array<ResultInfo, 17> kResultTable;

// Unknown values count as the generic failure that moves on to the next URL.
const ResultInfo& resultInfo(SetupResult code);
