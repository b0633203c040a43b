// The response decision as a whole, with WinHTTP's headers, the file's truncation and the
// free-space query stood in for: the order of the tests, what each ending stores.

#include "job/setup_job.h"
#include "download/judge_response.h"
#include "log/diagnostic_log.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// What the fake request answers, and what the fake file and volume do.
struct FakeWorld {
    std::map<DWORD, std::wstring> headers;
    bool truncateFails = false;
    int truncations = 0;
    int headerQueries = 0;
    bool freeSpaceKnown = true;
    std::int64_t freeBytes = std::int64_t{1} << 40;
    int freeSpaceQueries = 0;
    std::wstring steps; // "d" a validator file dropped, "t" the file emptied, "s" one stored
    ReleaseValidators stored;
};

FakeWorld* world = nullptr;

bool fakeQueryHeader(HINTERNET, DWORD id, wchar_t* buffer, std::size_t capacity) {
    ++world->headerQueries;
    for (std::size_t i = 0; i < capacity; ++i) {
        EXPECT_EQ(buffer[i], L'\0') << "buffers are zero-filled before the query";
    }
    const auto found = world->headers.find(id);
    if (found == world->headers.end()) {
        SetLastError(ERROR_WINHTTP_HEADER_NOT_FOUND);
        return false;
    }
    if (found->second.size() + 1 > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    found->second.copy(buffer, found->second.size());
    return true;
}

bool fakeTruncate(HANDLE) {
    ++world->truncations;
    world->steps += L't';
    if (world->truncateFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}

bool fakeFreeSpace(const wchar_t* folder, std::int64_t& freeBytes) {
    ++world->freeSpaceQueries;
    EXPECT_STREQ(folder, L"C:\\work");
    freeBytes = world->freeBytes;
    return world->freeSpaceKnown;
}

DWORD fakeDropValidators(HANDLE, const wchar_t* installerPath) {
    EXPECT_STREQ(installerPath, L"C:\\work\\Skyloom-win-Setup.exe");
    world->steps += L'd';
    return 0;
}

bool fakeStoreValidators(HANDLE, const wchar_t*, HINTERNET, const ReleaseValidators& kept) {
    world->steps += L's';
    world->stored = kept;
    return true;
}

const PartialDownloadIo kFakePartial{fakeDropValidators, fakeTruncate, fakeStoreValidators};
const ResponseIo kFakeIo{fakeQueryHeader, fakeFreeSpace, &kFakePartial};

constexpr DWORD kUntouched = 0xDEADBEEF;

class JudgeResponse : public ::testing::Test {
  protected:
    void SetUp() override {
        world = &fake;
        job.workFolder = L"C:\\work";
        job.installerPath = L"C:\\work\\Skyloom-win-Setup.exe";
        job.detail = kUntouched;
        job.retryMinutes = -1;
        job.neededMegabytes = -1;
        job.downloaded.store(-1);
        job.total.store(-1);
        // The log goes nowhere: the lines are checked end to end.
        savedLogPath = logPath;
        logPath = L"";
    }
    void TearDown() override {
        world = nullptr;
        logPath = savedLogPath;
    }

    // The position the decision returns becomes the one the next call starts from.
    Judgement judge(DWORD status) {
        const Judgement j = judgeResponseWith(kFakeIo, job, nullptr, INVALID_HANDLE_VALUE, status,
                                              {resumeOffset, knownTotal, kept});
        resumeOffset = j.position.resumeOffset;
        knownTotal = j.position.knownTotal;
        kept = j.position.validators;
        return j;
    }

    std::wstring savedLogPath;
    FakeWorld fake;
    SetupJob job;
    std::int64_t resumeOffset = 0;
    std::int64_t knownTotal = 0;
    ReleaseValidators kept;
};

TEST_F(JudgeResponse, BusyServerGivesMinutesAndLeavesTheRestAlone) {
    struct Case {
        const wchar_t* retryAfter; // null: no header
        std::int32_t minutes;
    };
    const Case cases[] = {{L"120", 2},
                          {L"121", 3},
                          {L"3600", 60},
                          {L"1", 2},
                          {L"0", 5},
                          {nullptr, 5},
                          {L"Fri, 31 Dec 1999 23:59:59 GMT", 5}};
    for (const Case& c : cases) {
        fake.headers.clear();
        if (c.retryAfter != nullptr) {
            fake.headers[WINHTTP_QUERY_RETRY_AFTER] = c.retryAfter;
        }
        resumeOffset = 5000;
        const Judgement j = judge(429);
        EXPECT_FALSE(j.transfer);
        EXPECT_EQ(j.code, SetupResult::ServerBusy);
        EXPECT_EQ(job.retryMinutes, c.minutes) << (c.retryAfter ? c.retryAfter : L"(none)");
        EXPECT_EQ(job.detail, kUntouched);
        EXPECT_EQ(resumeOffset, 5000);
    }
    EXPECT_EQ(fake.truncations, 0);
    EXPECT_EQ(fake.freeSpaceQueries, 0);
}

TEST_F(JudgeResponse, A416ThatProvesTheFileCompleteReadsNoBody) {
    resumeOffset = 2'000'000;
    knownTotal = 0;
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes */2000000";
    const Judgement j = judge(416);
    EXPECT_FALSE(j.transfer);
    EXPECT_EQ(j.code, SetupResult::Ok);
    EXPECT_EQ(job.total.load(), 2'000'000);
    EXPECT_EQ(job.downloaded.load(), 2'000'000);
    EXPECT_EQ(knownTotal, 0) << "a complete 416 does not record the total";
    EXPECT_EQ(fake.freeSpaceQueries, 0);
    EXPECT_EQ(fake.truncations, 0);
    EXPECT_EQ(job.detail, kUntouched);
}

TEST_F(JudgeResponse, A416ThatDoesNotProveItEmptiesTheFile) {
    const wchar_t* headers[] = {L"bytes */1999999", L"bytes */2000001", L"bytes */*", nullptr,
                                L"bytes 0-1/2000000"};
    for (const wchar_t* header : headers) {
        fake.headers.clear();
        if (header != nullptr) {
            fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = header;
        }
        resumeOffset = 2'000'000;
        job.downloaded.store(2'000'000);
        const Judgement j = judge(416);
        EXPECT_EQ(j.code, SetupResult::TransferIncomplete) << (header ? header : L"(none)");
        EXPECT_FALSE(j.transfer);
        EXPECT_EQ(resumeOffset, 0);
        EXPECT_EQ(job.downloaded.load(), 0);
        EXPECT_EQ(job.detail, kUntouched);
    }
    EXPECT_EQ(fake.truncations, 5);
    // Out of bounds, though equal to the file.
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes */1048575";
    resumeOffset = 1'048'575;
    EXPECT_EQ(judge(416).code, SetupResult::TransferIncomplete);
    EXPECT_EQ(resumeOffset, 0);
}

TEST_F(JudgeResponse, EmptyingThatFailsIsALocalErrorWithTheSystemError) {
    fake.truncateFails = true;
    resumeOffset = 2'000'000;
    job.downloaded.store(2'000'000);
    EXPECT_EQ(judge(416).code, SetupResult::LocalError);
    EXPECT_EQ(job.detail, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(job.serverFileChanged) << "the file was not emptied";
    EXPECT_EQ(fake.steps, L"t") << "its validators stay with its bytes";
    EXPECT_EQ(resumeOffset, 2'000'000);
    EXPECT_EQ(job.downloaded.load(), 2'000'000);

    fake.headers[WINHTTP_QUERY_CONTENT_LENGTH] = L"3000000";
    job.detail = kUntouched;
    EXPECT_EQ(judge(200).code, SetupResult::LocalError);
    EXPECT_EQ(job.detail, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 2000000-2999999/3000001";
    knownTotal = 3'000'000;
    job.detail = kUntouched;
    EXPECT_EQ(judge(206).code, SetupResult::LocalError);
    EXPECT_EQ(knownTotal, 3'000'000) << "the total is not taken over when emptying fails";
    EXPECT_EQ(job.detail, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(JudgeResponse, A206ThatContinuesTheFileIsTransferred) {
    resumeOffset = 1'000'000;
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 1000000-2999999/3000000";
    const Judgement j = judge(206);
    EXPECT_TRUE(j.transfer);
    EXPECT_EQ(j.size, 3'000'000);
    EXPECT_EQ(resumeOffset, 1'000'000);
    EXPECT_EQ(knownTotal, 3'000'000);
    EXPECT_EQ(job.total.load(), 3'000'000);
    EXPECT_EQ(fake.truncations, 0);
    EXPECT_EQ(fake.freeSpaceQueries, 1);
    EXPECT_EQ(job.detail, kUntouched);
    EXPECT_FALSE(job.serverFileChanged);
}

TEST_F(JudgeResponse, A206ThatDoesNotFitEmptiesTheFileWithDetail206) {
    const wchar_t* headers[] = {L"bytes 999999-2999999/3000000", L"bytes 1000001-2999999/3000000",
                                L"bytes 0-2999999/3000000", L"bytes 1000000-2999999/*", nullptr};
    for (const wchar_t* header : headers) {
        fake.headers.clear();
        if (header != nullptr) {
            fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = header;
        }
        resumeOffset = 1'000'000;
        job.detail = kUntouched;
        const Judgement j = judge(206);
        EXPECT_EQ(j.code, SetupResult::TransferIncomplete) << (header ? header : L"(none)");
        EXPECT_TRUE(job.serverFileChanged);
        EXPECT_EQ(job.detail, 206u);
        EXPECT_EQ(resumeOffset, 0);
        EXPECT_EQ(job.downloaded.load(), 0);
    }
    EXPECT_EQ(fake.freeSpaceQueries, 0);
}

TEST_F(JudgeResponse, A206Or416WithoutRangeIsAnUnexpectedStatus) {
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 0-2999999/3000000";
    for (DWORD status : {206u, 416u, 404u, 503u, 0u, 302u}) {
        resumeOffset = 0;
        const Judgement j = judge(status);
        EXPECT_EQ(j.code, SetupResult::UnexpectedStatus) << status;
        EXPECT_EQ(job.detail, status);
    }
    EXPECT_EQ(fake.headerQueries, 0);
    EXPECT_EQ(fake.truncations, 0);
}

TEST_F(JudgeResponse, A200ToARangeRequestEmptiesTheFileAndGoesOnFromZero) {
    resumeOffset = 1'000'000;
    job.downloaded.store(1'000'000);
    knownTotal = 2'500'000; // another total: no agreement test, the file is empty already
    fake.headers[WINHTTP_QUERY_CONTENT_LENGTH] = L"3000000";
    const Judgement j = judge(200);
    EXPECT_TRUE(j.transfer);
    EXPECT_EQ(j.size, 3'000'000);
    EXPECT_EQ(fake.truncations, 1);
    EXPECT_EQ(resumeOffset, 0);
    EXPECT_EQ(job.downloaded.load(), 0);
    EXPECT_EQ(knownTotal, 3'000'000);
    EXPECT_EQ(job.total.load(), 3'000'000);
    EXPECT_FALSE(job.serverFileChanged) << "the same attempt goes on";
}

TEST_F(JudgeResponse, A200ToARangeRequestThatWillNotBeTransferredLeavesTheFile) {
    struct Case {
        const wchar_t* length; // null: no header
        std::int64_t freeBytes;
        SetupResult code;
    };
    const std::int64_t onDisk = 2'000'000;
    const Case cases[] = {
        {nullptr, std::int64_t{1} << 40, SetupResult::UnexpectedSize},
        {L"", std::int64_t{1} << 40, SetupResult::UnexpectedSize},
        {L"-1", std::int64_t{1} << 40, SetupResult::UnexpectedSize},
        {L"1048575", std::int64_t{1} << 40, SetupResult::UnexpectedSize},
        {L"419430401", std::int64_t{1} << 40, SetupResult::UnexpectedSize},
        {L"99999999999999999999999", std::int64_t{1} << 40, SetupResult::UnexpectedSize},
        // The file's own bytes count as free: one byte short of the rest only with them.
        {L"3000000", 3'000'000 + 419'430'400 - onDisk - 1, SetupResult::NotEnoughSpace},
    };
    for (const Case& c : cases) {
        fake.headers.clear();
        if (c.length != nullptr) {
            fake.headers[WINHTTP_QUERY_CONTENT_LENGTH] = c.length;
        }
        fake.freeBytes = c.freeBytes;
        resumeOffset = onDisk;
        job.downloaded.store(onDisk);
        const Judgement j = judge(200);
        EXPECT_FALSE(j.transfer) << (c.length ? c.length : L"(none)");
        EXPECT_EQ(j.code, c.code) << (c.length ? c.length : L"(none)");
        EXPECT_EQ(resumeOffset, onDisk) << "the good partial file stays";
        EXPECT_EQ(job.downloaded.load(), onDisk);
    }
    EXPECT_EQ(fake.truncations, 0);

    // With exactly enough once the file's bytes are freed, the file is emptied and fetched.
    fake.freeBytes = 3'000'000 + 419'430'400 - onDisk;
    resumeOffset = onDisk;
    const Judgement j = judge(200);
    EXPECT_TRUE(j.transfer);
    EXPECT_EQ(fake.truncations, 1);
    EXPECT_EQ(resumeOffset, 0);
}

TEST_F(JudgeResponse, A206FromOrPastTheTotalRestartsFromZero) {
    // A stale file on disk as long as the server's file or longer.
    struct Case {
        std::int64_t onDisk;
        const wchar_t* range;
    };
    const Case cases[] = {
        {3'000'000, L"bytes 3000000-3000000/3000000"},
        {3'000'001, L"bytes 3000001-3000001/3000000"},
        {3'500'000, L"bytes 3500000-3999999/3000000"},
        {2'000'000, L"bytes 2000000-3000000/3000000"},
        {2'000'000, L"bytes 2000000-1999999/3000000"},
    };
    for (const Case& c : cases) {
        fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = c.range;
        resumeOffset = c.onDisk;
        job.detail = kUntouched;
        const Judgement j = judge(206);
        EXPECT_EQ(j.code, SetupResult::TransferIncomplete) << c.range;
        EXPECT_EQ(job.detail, 206u) << c.range;
        EXPECT_EQ(resumeOffset, 0) << c.range;
    }
    EXPECT_EQ(fake.truncations, 5);
    EXPECT_EQ(fake.freeSpaceQueries, 0);
}

TEST_F(JudgeResponse, ContentLengthBounds) {
    struct Case {
        const wchar_t* length; // null: no header
        bool transfer;
        DWORD detail;
    };
    const Case cases[] = {
        {L"1048575", false, 0},
        {L"1048576", true, kUntouched},
        {L"419430400", true, kUntouched},
        {L"419430401", false, 400},
        {nullptr, false, 0},
        {L"-1", false, 0},
        {L"", false, 0},
        {L"99999999999", false, 95367},
    };
    for (const Case& c : cases) {
        fake.headers.clear();
        if (c.length != nullptr) {
            fake.headers[WINHTTP_QUERY_CONTENT_LENGTH] = c.length;
        }
        job.detail = kUntouched;
        resumeOffset = 0;
        knownTotal = 0;
        const Judgement j = judge(200);
        EXPECT_EQ(j.transfer, c.transfer) << (c.length ? c.length : L"(none)");
        EXPECT_EQ(j.code, c.transfer ? SetupResult::Ok : SetupResult::UnexpectedSize);
        EXPECT_EQ(job.detail, c.detail) << (c.length ? c.length : L"(none)");
        if (!c.transfer) {
            EXPECT_EQ(knownTotal, 0);
        }
    }
    // A value longer than its 64-unit buffer reads as missing.
    fake.headers[WINHTTP_QUERY_CONTENT_LENGTH] = std::wstring(70, L'1');
    EXPECT_EQ(judge(200).code, SetupResult::UnexpectedSize);
    EXPECT_EQ(job.detail, 0u);
}

TEST_F(JudgeResponse, A206WithAnotherTotalThanBeforeEmptiesTheFile) {
    knownTotal = 3'000'000;
    resumeOffset = 1'000'000;
    job.total.store(3'000'000);
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 1000000-3999999/4000000";
    const Judgement j = judge(206);
    EXPECT_EQ(j.code, SetupResult::TransferIncomplete);
    EXPECT_EQ(knownTotal, 4'000'000);
    EXPECT_EQ(job.total.load(), 3'000'000) << "the new total is not published yet";
    EXPECT_EQ(resumeOffset, 0);
    EXPECT_EQ(job.detail, kUntouched);
    EXPECT_EQ(fake.freeSpaceQueries, 0);

    // The same total again: accepted.
    resumeOffset = 1'000'000;
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 1000000-3999999/4000000";
    EXPECT_TRUE(judge(206).transfer);
}

TEST_F(JudgeResponse, TheSizeTestComesBeforeTheAgreementTest) {
    knownTotal = 3'000'000;
    resumeOffset = 1'000'000;
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 1000000-419430400/419430401";
    EXPECT_EQ(judge(206).code, SetupResult::UnexpectedSize);
    EXPECT_EQ(job.detail, 400u);
    EXPECT_EQ(fake.truncations, 0);
    EXPECT_EQ(knownTotal, 3'000'000);
}

TEST_F(JudgeResponse, FreeSpaceExactlyEnoughOrOneByteShort) {
    fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 1000000-2999999/3000000";
    const std::int64_t needed = 3'000'000 - 1'000'000 + 419'430'400;

    fake.freeBytes = needed;
    resumeOffset = 1'000'000;
    EXPECT_TRUE(judge(206).transfer);

    fake.freeBytes = needed - 1;
    resumeOffset = 1'000'000;
    const Judgement j = judge(206);
    EXPECT_EQ(j.code, SetupResult::NotEnoughSpace);
    EXPECT_EQ(job.neededMegabytes, needed >> 20);
    EXPECT_EQ(job.detail, kUntouched);
    EXPECT_EQ(job.total.load(), 3'000'000) << "the size was accepted before the space test";

    // A volume that cannot tell its free space does not stop the transfer.
    fake.freeSpaceKnown = false;
    fake.freeBytes = 0;
    resumeOffset = 1'000'000;
    EXPECT_TRUE(judge(206).transfer);
}

TEST_F(JudgeResponse, A206GoesOnOnlyFromTheKeptRelease) {
    // The file holds 1,000,000 bytes of the release tagged "v1". Another release's tail, or one
    // that cannot show the tag, empties the file, its validators first.
    for (const wchar_t* etag : {L"\"v1\"", L"\"v2\"", L"W/\"v1\"", L""}) {
        fake = {};
        fake.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 1000000-2999999/3000000";
        fake.headers[WINHTTP_QUERY_ETAG] = etag;
        resumeOffset = 1'000'000;
        kept = keptFromAnswer(3'000'000, L"\"v1\"", L"", L"");
        job.serverFileChanged = false;
        const bool same = etag == std::wstring_view(L"\"v1\"");
        EXPECT_EQ(judge(206).transfer, same) << etag;
        EXPECT_EQ(resumeOffset, same ? 1'000'000 : 0) << etag;
        EXPECT_EQ(hasValidators(kept), same) << "kept for the next attempt only when the same";
        EXPECT_EQ(job.serverFileChanged, !same) << "the cause reads it: the server changed";
        EXPECT_EQ(fake.steps, same ? L"" : L"td") << etag;
    }
    EXPECT_EQ(job.detail, 206u);
}

// A server that only ignored Range is not said to have another release.
TEST_F(JudgeResponse, A200ToARangeRequestIsAnotherReleaseOnlyByItsValidators) {
    const wchar_t* kOld = L"Sun, 06 Nov 1994 08:49:37 GMT";
    const struct {
        ReleaseValidators kept;
        const wchar_t* etag;
        const char* line;
    } cases[] = {
        {keptFromAnswer(3'000'000, L"\"v1\"", L"", L""), L"\"v1\"",
         "o servidor ignorou o Range: recomeca do zero"},
        {keptFromAnswer(3'000'000, L"\"v1\"", L"", L""), L"\"v2\"",
         "outra versao no servidor: recomeca do zero"},
        // Last-Modified as the answer's own time: the total alone tells.
        {keptFromAnswer(3'000'000, L"", kOld, kOld), L"",
         "o servidor ignorou o Range: recomeca do zero"},
    };
    for (const auto& c : cases) {
        const ScratchFolder scratch(L"skyloom-judge-test");
        fake.headers[WINHTTP_QUERY_CONTENT_LENGTH] = L"3000000";
        fake.headers[WINHTTP_QUERY_LAST_MODIFIED] = L"Sun, 06 Nov 1994 08:50:37 GMT";
        fake.headers[WINHTTP_QUERY_ETAG] = c.etag;
        resumeOffset = 1'000'000;
        kept = c.kept;
        EXPECT_TRUE(judge(200).transfer) << c.line;
        EXPECT_EQ(scratch.logMessages(), std::vector<std::string>{c.line}) << c.etag;
    }
}

TEST_F(JudgeResponse, AWholeAnswerKeepsItsOwnValidatorsBeforeItsBody) {
    // The release changed: an If-Range server sends the new file whole.
    resumeOffset = 1'000'000;
    kept = keptFromAnswer(3'000'000, L"\"v1\"", L"", L"");
    fake.headers[WINHTTP_QUERY_CONTENT_LENGTH] = L"3500000";
    fake.headers[WINHTTP_QUERY_ETAG] = L"\"v2\"";
    EXPECT_TRUE(judge(200).transfer);
    EXPECT_EQ(fake.steps, L"tds");
    EXPECT_STREQ(kept.etag, L"\"v2\"");

    // From an empty file, with a weak tag only: nothing to keep, and what was kept goes.
    fake.steps.clear();
    fake.headers[WINHTTP_QUERY_ETAG] = L"W/\"v3\"";
    resumeOffset = 0;
    EXPECT_TRUE(judge(200).transfer);
    EXPECT_EQ(fake.steps, L"s");
    EXPECT_FALSE(hasValidators(kept));
}

} // namespace
