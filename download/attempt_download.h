#pragma once
// One HTTP(S) GET of one URL, appended to the installer file from the bytes it already holds.

#include "job/setup_result.h"
#include "download/file_position.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct SetupJob;

inline constexpr wchar_t kUserAgent[] = L"Skyloom-Setup/1.0";
inline constexpr std::size_t kRangeHeaderCapacity = 80;
// Name resolution, connect, send, receive.
inline constexpr int kResolveTimeoutMs = 15'000;
inline constexpr int kConnectTimeoutMs = 15'000;
inline constexpr int kSendTimeoutMs = 30'000;
inline constexpr int kReceiveTimeoutMs = 60'000;

struct AttemptOutcome {
    SetupResult code = SetupResult::Ok;
    FilePosition position; // the file as the attempt leaves it, for the next attempt
};

// `file` is open for writing with its pointer at its end, its length `at.resumeOffset`; the
// attempt leaves it so, with the length it returns, at every return except after a failed
// write. Runs on the worker thread; the UI may take the request handle out of
// job.activeRequest and close it to cancel. The one failure that is not a code, the transfer
// buffer's allocation, leaves as std::bad_alloc after the handles are closed.
[[nodiscard]] AttemptOutcome attemptDownload(SetupJob& job, const std::wstring& url, HANDLE file,
                                             FilePosition at);
