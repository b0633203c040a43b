#include "download/judge_response.h"

#include "job/setup_job.h"
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

Judgement ending(SetupResult code, FilePosition at) {
    return {false, code, 0, at};
}

// Empties the file and leaves its pointer at 0; false with job.detail set when that fails.
[[nodiscard]] bool emptyTheFile(const ResponseIo& io, SetupJob& job, HANDLE file) {
    if (const DWORD error = emptyPartialDownload(*io.partial, job.workFolderHandle.get(),
                                                 job.installerPath.c_str(), file);
        error != 0) {
        job.detail = error;
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
    job.serverFileChanged = true;
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
ReleaseValidators answerValidators(const ResponseIo& io, HINTERNET request) {
    ReleaseValidators validators;
    (void)readHeader(io, request, WINHTTP_QUERY_ETAG, validators.etag);
    (void)readHeader(io, request, WINHTTP_QUERY_LAST_MODIFIED, validators.lastModified);
    (void)readHeader(io, request, WINHTTP_QUERY_DATE, validators.date);
    return validators;
}

// What a 206 or a 200 announces: the whole size, the byte its body starts from, and for a 200
// whether its validators say another release than the kept one.
struct AnnouncedBody {
    std::int64_t size;
    std::int64_t start;
    bool otherRelease;
};

// The size tests, the agreement with an earlier total and the free space; a 200 to a range
// request empties the file last, once the answer is to be transferred, so that a bad answer
// from one URL cannot wipe what another URL delivered.
Judgement admitBody(const ResponseIo& io, SetupJob& job, HANDLE file, FilePosition at,
                    AnnouncedBody body) {
    if (!sizeAcceptable(body.size)) {
        job.detail = sizeDetail(body.size);
        logLine(L"tamanho fora do esperado: %lld", body.size);
        return ending(SetupResult::UnexpectedSize, at);
    }
    // Only a 206 can fail this: a 200 starts from 0.
    if (totalChanged(at.knownTotal, body.size, body.start)) {
        logLine(L"o total mudou (%lld -> %lld): recomeca do zero", at.knownTotal, body.size);
        return restartFromZero(io, job, file, at, SetupResult::TransferIncomplete, body.size);
    }
    const FilePosition accepted{at.resumeOffset, body.size, at.validators};
    job.total.store(body.size);

    const bool rangeIgnored = body.start < at.resumeOffset;
    const std::int64_t needed = spaceNeeded(body.size, body.start);
    std::int64_t freeBytes = 0;
    // A volume that cannot tell its free space does not stop the download. The bytes of a
    // file about to be emptied count as free.
    if (io.freeSpace(job.workFolder.c_str(), freeBytes) &&
        !enoughSpace(freeAfterEmptying(freeBytes, rangeIgnored ? at.resumeOffset : 0), needed)) {
        job.neededMegabytes = wholeMegabytes(needed);
        return ending(SetupResult::NotEnoughSpace, accepted);
    }
    if (rangeIgnored) {
        logLine(body.otherRelease ? L"outra versao no servidor: recomeca do zero"
                                  : L"o servidor ignorou o Range: recomeca do zero");
        if (!emptyTheFile(io, job, file)) {
            return ending(SetupResult::LocalError, accepted);
        }
    }
    return {true, SetupResult::Ok, body.size, {body.start, body.size, at.validators}};
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
    const ReleaseValidators answer = answerValidators(io, request);
    const ReleaseValidators& kept = at.validators;
    if (!sameRelease(kept, answer.etag, answer.lastModified, range.total)) {
        // A server that ignored If-Range: another release's tail must not follow this head.
        const bool byEtag = kept.etag[0] != L'\0';
        logLine(L"206 de outra versao ([%s] %lld, guardado [%s] %lld): recomeca do zero",
                byEtag ? answer.etag : answer.lastModified, range.total,
                byEtag ? kept.etag : kept.lastModified, kept.total);
        return restartAfterPartial(io, job, file, at);
    }
    return admitBody(io, job, file, at, {range.total, at.resumeOffset, false});
}

// The whole body starts from byte 0, whatever the file holds now.
Judgement judgeWhole(const ResponseIo& io, SetupJob& job, HINTERNET request, HANDLE file,
                     FilePosition at) {
    wchar_t text[kContentLengthCapacity];
    const bool present = readHeader(io, request, WINHTTP_QUERY_CONTENT_LENGTH, text);
    const std::int64_t size = announcedLength(present, text);
    const ReleaseValidators answer = answerValidators(io, request);
    const bool otherRelease = !sameRelease(at.validators, answer.etag, answer.lastModified, size);
    Judgement accepted = admitBody(io, job, file, at, {size, 0, otherRelease});
    if (accepted.transfer) {
        // The new bytes' release from now on, kept before the body's first byte.
        ReleaseValidators& validators = accepted.position.validators;
        validators = keptFromAnswer(accepted.size, answer.etag, answer.lastModified, answer.date);
        if (!io.partial->storeValidators(job.workFolderHandle.get(), job.installerPath.c_str(),
                                         request, validators)) {
            // What the disk does not hold cannot speak for the bytes in a later run either.
            validators = {};
        }
    }
    return accepted;
}

} // namespace

const ResponseIo kResponseIo{queryHeaderText, freeSpaceOf, &kPartialDownloadIo};

bool queryHeaderText(HINTERNET request, DWORD headerId, wchar_t* buffer, std::size_t capacity) {
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
    return WinHttpQueryHeaders(request, headerId, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &bytes,
                               WINHTTP_NO_HEADER_INDEX) != FALSE;
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
