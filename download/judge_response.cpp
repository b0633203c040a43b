#include "download/judge_response.h"

#include "download/response_rules.h"
#include "log/diagnostic_log.h"

namespace {

bool freeSpaceOf(const wchar_t* folder, std::int64_t& freeBytes) {
    ULARGE_INTEGER freeToCaller{};
    if (!GetDiskFreeSpaceExW(folder, &freeToCaller, nullptr, nullptr)) {
        return false;
    }
    // Beyond the signed range it is plenty, not a negative number.
    freeBytes = freeToCaller.QuadPart > static_cast<ULONGLONG>(INT64_MAX)
                    ? INT64_MAX
                    : static_cast<std::int64_t>(freeToCaller.QuadPart);
    return true;
}

// Zero-filled first: a header that is missing, or longer than the buffer, reads as "".
template <std::size_t N>
bool readHeader(const ResponseIo& io, HINTERNET request, DWORD headerId, wchar_t (&text)[N]) {
    for (wchar_t& c : text) {
        c = L'\0';
    }
    const bool found = io.queryHeader(request, headerId, text, N);
    if (!found) {
        text[0] = L'\0';
    }
    return found;
}

Judgement ending(SetupResult code) {
    return {false, code, 0};
}

// Every "recomeca do zero" case; its line is logged before this, also when emptying fails.
[[nodiscard]] bool emptyTheFile(const ResponseIo& io, SetupJob& job, HANDLE file,
                                std::int64_t& resumeOffset) {
    if (!io.truncate(file)) {
        job.detail = GetLastError();
        return false;
    }
    resumeOffset = 0;
    job.downloaded.store(0);
    return true;
}

} // namespace

const ResponseIo kResponseIo{queryHeaderText, truncateToEmpty, freeSpaceOf};

bool queryHeaderText(HINTERNET request, DWORD headerId, wchar_t* buffer, std::size_t capacity) {
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
    return WinHttpQueryHeaders(request, headerId, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &bytes,
                               WINHTTP_NO_HEADER_INDEX) != FALSE;
}

bool truncateToEmpty(HANDLE file) {
    LARGE_INTEGER zero{};
    // The pointer stays at 0, the new end, so later writes append.
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

Judgement judgeResponse(SetupJob& job, HINTERNET request, HANDLE file, DWORD status,
                        std::int64_t& resumeOffset, std::int64_t& knownTotal) {
    return judgeResponseWith(kResponseIo, job, request, file, status, resumeOffset, knownTotal);
}

Judgement judgeResponseWith(const ResponseIo& io, SetupJob& job, HINTERNET request, HANDLE file,
                            DWORD status, std::int64_t& resumeOffset, std::int64_t& knownTotal) {
    std::int64_t size = -1;
    // A 200 to a range request: the file is emptied only once the answer is to be transferred,
    // so a bad answer from one URL cannot wipe what another URL delivered.
    bool rangeIgnored = false;
    switch (answerRow(status, resumeOffset)) {
    case AnswerRow::Busy: {
        wchar_t text[kRetryAfterCapacity];
        (void)readHeader(io, request, WINHTTP_QUERY_RETRY_AFTER, text);
        job.retryMinutes = busyMinutes(text);
        return ending(SetupResult::ServerBusy);
    }
    case AnswerRow::RangeRefused: {
        wchar_t text[kContentRangeCapacity];
        (void)readHeader(io, request, WINHTTP_QUERY_CONTENT_RANGE, text);
        const std::int64_t total = unsatisfiedRangeTotal(text);
        if (provesComplete(total, resumeOffset)) {
            // knownTotal stays as it is, and there is nothing to make room for.
            logLine(L"416: o ficheiro ja' esta' completo (%lld)", resumeOffset);
            job.total.store(total);
            job.downloaded.store(resumeOffset);
            return ending(SetupResult::Ok);
        }
        logLine(L"416 com [%s] e %lld no disco: recomeca do zero", text, resumeOffset);
        if (!emptyTheFile(io, job, file, resumeOffset)) {
            return ending(SetupResult::LocalError);
        }
        return ending(SetupResult::TransferIncomplete);
    }
    case AnswerRow::Partial: {
        wchar_t text[kContentRangeCapacity];
        (void)readHeader(io, request, WINHTTP_QUERY_CONTENT_RANGE, text);
        const ContentRange range = partialContentRange(text);
        if (!continuesFile(range, resumeOffset)) {
            logLine(L"Content-Range estranho [%s]: recomeca do zero", text);
            if (!emptyTheFile(io, job, file, resumeOffset)) {
                return ending(SetupResult::LocalError);
            }
            job.detail = 206;
            return ending(SetupResult::TransferIncomplete);
        }
        size = range.total;
        break;
    }
    case AnswerRow::Whole: {
        rangeIgnored = resumeOffset > 0;
        wchar_t text[kContentLengthCapacity];
        const bool present = readHeader(io, request, WINHTTP_QUERY_CONTENT_LENGTH, text);
        size = announcedLength(present, text);
        break;
    }
    case AnswerRow::Unexpected:
        job.detail = status;
        return ending(SetupResult::UnexpectedStatus);
    }

    if (!sizeAcceptable(size)) {
        job.detail = sizeDetail(size);
        logLine(L"tamanho fora do esperado: %lld", size);
        return ending(SetupResult::UnexpectedSize);
    }
    // The whole body starts from byte 0, whatever the file holds now.
    const std::int64_t startOffset = rangeIgnored ? 0 : resumeOffset;
    // Only a 206 can fail this: a 200 starts from 0.
    if (totalChanged(knownTotal, size, startOffset)) {
        logLine(L"o total mudou (%lld -> %lld): recomeca do zero", knownTotal, size);
        if (!emptyTheFile(io, job, file, resumeOffset)) {
            return ending(SetupResult::LocalError);
        }
        knownTotal = size;
        return ending(SetupResult::TransferIncomplete);
    }
    knownTotal = size;
    job.total.store(size);

    const std::int64_t needed = spaceNeeded(size, startOffset);
    std::int64_t freeBytes = 0;
    // A volume that cannot tell its free space does not stop the download. The bytes of a
    // file about to be emptied count as free.
    if (io.freeSpace(job.workFolder.c_str(), freeBytes) &&
        !enoughSpace(freeAfterEmptying(freeBytes, rangeIgnored ? resumeOffset : 0), needed)) {
        job.neededMegabytes = wholeMegabytes(needed);
        return ending(SetupResult::NotEnoughSpace);
    }
    if (rangeIgnored) {
        logLine(L"o servidor ignorou o Range: recomeca do zero");
        if (!emptyTheFile(io, job, file, resumeOffset)) {
            return ending(SetupResult::LocalError);
        }
    }
    return {true, SetupResult::Ok, size};
}
