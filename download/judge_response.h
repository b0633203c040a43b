#pragma once
// The response decision: transfer the body with an accepted size, or end the
// attempt with a code. Runs after the status line is logged and before any body byte is read.

#include "job/setup_result.h"
#include "download/file_position.h"
#include "download/partial_download.h"
#include "download/response_rules.h"

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <cstdint>

struct SetupJob;

// The system calls of the decision, so that a unit test can stand in for WinHTTP, the volume
// and the partial download.
struct ResponseIo {
    // One WinHttpQueryHeaders by header id, as text; true when it succeeds.
    bool (*queryHeader)(HINTERNET request, DWORD headerId, wchar_t* buffer, std::size_t capacity);
    // Bytes free to the caller on the folder's volume; false when the query fails.
    bool (*freeSpace)(const wchar_t* folder, std::int64_t& freeBytes);
    // Emptied with its validators, the validators of an answer taken whole kept before its
    // body.
    const PartialDownloadIo* partial;
};

extern const ResponseIo kResponseIo;

struct Judgement {
    bool transfer = false;              // true: stream the body, expecting `size` bytes in all
    SetupResult code = SetupResult::Ok; // the attempt's code when it ends here
    std::int64_t size = 0;
    FilePosition position; // the file as the decision leaves it (emptied, total taken over)
};

// `at`: the file when the request went out.
[[nodiscard]] Judgement judgeResponse(SetupJob& job, HINTERNET request, HANDLE file, DWORD status,
                                      FilePosition at);

[[nodiscard]] Judgement judgeResponseWith(const ResponseIo& io, SetupJob& job, HINTERNET request,
                                          HANDLE file, DWORD status, FilePosition at);

[[nodiscard]] bool queryHeaderText(HINTERNET request, DWORD headerId, wchar_t* buffer,
                                   std::size_t capacity);
