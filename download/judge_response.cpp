#include "download/judge_response.h"

#include "job/setup_job.h"
#include "download/response_rules.h"
#include "download/validator_file.h"
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

Judgement ending(SetupResult code, FilePosition at) {
    return {false, code, 0, at};
}

// Empties the file and leaves its pointer at 0; false with job.detail set when that fails.
[[nodiscard]] bool emptyTheFile(const ResponseIo& io, SetupJob& job, HANDLE file) {
    // First: validators left beside an emptied file would speak for the next release's bytes.
    (void)io.dropValidators(job.installerPath.c_str());
    if (!io.truncate(file)) {
        job.detail = GetLastError();
        return false;
    }
    job.downloaded.store(0);
    return true;
}

// Every "recomeca do zero" that ends the attempt; its line is logged before this, also when
// emptying fails. The file then keeps its bytes and the total stays as it was.
Judgement restartFromZero(const ResponseIo& io, SetupJob& job, HANDLE file, FilePosition at,
                          SetupResult code, std::int64_t knownTotalAfter) {
    if (!emptyTheFile(io, job, file)) {
        return ending(SetupResult::LocalError, at);
    }
    job.restartedFromZero = true;
    return ending(code, {0, knownTotalAfter, {}});
}

Judgement judgeBusy(const ResponseIo& io, SetupJob& job, HINTERNET request, FilePosition at) {
    wchar_t text[kRetryAfterCapacity];
    (void)readHeader(io, request, WINHTTP_QUERY_RETRY_AFTER, text);
    job.retryMinutes = busyMinutes(text);
    return ending(SetupResult::ServerBusy, at);
}

Judgement judgeRangeRefused(const ResponseIo& io, SetupJob& job, HINTERNET request, HANDLE file,
                            FilePosition at) {
    wchar_t text[kContentRangeCapacity];
    (void)readHeader(io, request, WINHTTP_QUERY_CONTENT_RANGE, text);
    const std::int64_t total = unsatisfiedRangeTotal(text);
    if (provesComplete(total, at.resumeOffset)) {
        // The known total stays as it is, and there is nothing to make room for.
        logLine(L"416: o ficheiro ja' esta' completo (%lld)", at.resumeOffset);
        job.total.store(total);
        job.downloaded.store(at.resumeOffset);
        return ending(SetupResult::Ok, at);
    }
    logLine(L"416 com [%s] e %lld no disco: recomeca do zero", text, at.resumeOffset);
    return restartFromZero(io, job, file, at, SetupResult::TransferIncomplete, at.knownTotal);
}

// The validators an answer carries, as its headers give them.
ReleaseValidators answerTags(const ResponseIo& io, HINTERNET request) {
    ReleaseValidators tags;
    (void)readHeader(io, request, WINHTTP_QUERY_ETAG, tags.etag);
    (void)readHeader(io, request, WINHTTP_QUERY_LAST_MODIFIED, tags.lastModified);
    (void)readHeader(io, request, WINHTTP_QUERY_DATE, tags.date);
    return tags;
}

// What a 206 or a 200 offers to send: the whole size, and the byte its body starts from.
struct Offer {
    std::int64_t size;
    std::int64_t start;
};

// The size tests, the agreement with an earlier total and the free space; a 200 to a range
// request empties the file last, once the answer is to be transferred, so that a bad answer
// from one URL cannot wipe what another URL delivered.
Judgement admitOffer(const ResponseIo& io, SetupJob& job, HANDLE file, FilePosition at,
                     Offer offer) {
    if (!sizeAcceptable(offer.size)) {
        job.detail = sizeDetail(offer.size);
        logLine(L"tamanho fora do esperado: %lld", offer.size);
        return ending(SetupResult::UnexpectedSize, at);
    }
    // Only a 206 can fail this: a 200 starts from 0.
    if (totalChanged(at.knownTotal, offer.size, offer.start)) {
        logLine(L"o total mudou (%lld -> %lld): recomeca do zero", at.knownTotal, offer.size);
        return restartFromZero(io, job, file, at, SetupResult::TransferIncomplete, offer.size);
    }
    const FilePosition taken{at.resumeOffset, offer.size, at.kept};
    job.total.store(offer.size);

    const bool rangeIgnored = offer.start < at.resumeOffset;
    const std::int64_t needed = spaceNeeded(offer.size, offer.start);
    std::int64_t freeBytes = 0;
    // A volume that cannot tell its free space does not stop the download. The bytes of a
    // file about to be emptied count as free.
    if (io.freeSpace(job.workFolder.c_str(), freeBytes) &&
        !enoughSpace(freeAfterEmptying(freeBytes, rangeIgnored ? at.resumeOffset : 0), needed)) {
        job.neededMegabytes = wholeMegabytes(needed);
        return ending(SetupResult::NotEnoughSpace, taken);
    }
    if (rangeIgnored) {
        // With If-Range, a whole answer is the server's word that its file changed.
        logLine(ifRangeValue(at.kept).empty() ? L"o servidor ignorou o Range: recomeca do zero"
                                              : L"outra versao no servidor: recomeca do zero");
        if (!emptyTheFile(io, job, file)) {
            return ending(SetupResult::LocalError, taken);
        }
    }
    return {true, SetupResult::Ok, offer.size, {offer.start, offer.size, at.kept}};
}

// The two ways a 206 that cannot be appended ends: the file emptied, detail 206.
Judgement restartAfterPartial(const ResponseIo& io, SetupJob& job, HANDLE file, FilePosition at) {
    Judgement restarted =
        restartFromZero(io, job, file, at, SetupResult::TransferIncomplete, at.knownTotal);
    if (restarted.code == SetupResult::TransferIncomplete) {
        job.detail = 206;
    }
    return restarted;
}

Judgement judgePartial(const ResponseIo& io, SetupJob& job, HINTERNET request, HANDLE file,
                       FilePosition at) {
    wchar_t text[kContentRangeCapacity];
    (void)readHeader(io, request, WINHTTP_QUERY_CONTENT_RANGE, text);
    const ContentRange range = partialContentRange(text);
    if (!continuesFile(range, at.resumeOffset)) {
        logLine(L"Content-Range estranho [%s]: recomeca do zero", text);
        return restartAfterPartial(io, job, file, at);
    }
    const ReleaseValidators tags = answerTags(io, request);
    if (!sameRelease(at.kept, tags.etag, tags.lastModified, range.total)) {
        // A server that ignored If-Range: another release's tail must not follow this head.
        const bool byEtag = at.kept.etag[0] != L'\0';
        logLine(L"206 de outra versao ([%s] %lld, guardado [%s] %lld): recomeca do zero",
                byEtag ? tags.etag : tags.lastModified, range.total,
                byEtag ? at.kept.etag : at.kept.lastModified, at.kept.total);
        return restartAfterPartial(io, job, file, at);
    }
    return admitOffer(io, job, file, at, {range.total, at.resumeOffset});
}

// The whole body starts from byte 0, whatever the file holds now.
Judgement judgeWhole(const ResponseIo& io, SetupJob& job, HINTERNET request, HANDLE file,
                     FilePosition at) {
    wchar_t text[kContentLengthCapacity];
    const bool present = readHeader(io, request, WINHTTP_QUERY_CONTENT_LENGTH, text);
    Judgement taken = admitOffer(io, job, file, at, {announcedLength(present, text), 0});
    if (taken.transfer) {
        // The new bytes' release from now on, kept before the body's first byte.
        const ReleaseValidators tags = answerTags(io, request);
        taken.position.kept = keptFromAnswer(taken.size, tags.etag, tags.lastModified, tags.date);
        if (!io.storeValidators(job.installerPath.c_str(), request, taken.position.kept)) {
            // What the disk does not hold cannot speak for the bytes in a later run either.
            taken.position.kept = {};
        }
    }
    return taken;
}

} // namespace

const ResponseIo kResponseIo{queryHeaderText, truncateToEmpty, freeSpaceOf, dropValidators,
                             storeValidators};

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
                        FilePosition at) {
    return judgeResponseWith(kResponseIo, job, request, file, status, at);
}

Judgement judgeResponseWith(const ResponseIo& io, SetupJob& job, HINTERNET request, HANDLE file,
                            DWORD status, FilePosition at) {
    switch (answerRow(status, at.resumeOffset)) {
    case AnswerRow::Busy:
        return judgeBusy(io, job, request, at);
    case AnswerRow::RangeRefused:
        return judgeRangeRefused(io, job, request, file, at);
    case AnswerRow::Partial:
        return judgePartial(io, job, request, file, at);
    case AnswerRow::Whole:
        return judgeWhole(io, job, request, file, at);
    case AnswerRow::Unexpected:
        break;
    }
    job.detail = status;
    return ending(SetupResult::UnexpectedStatus, at);
}
