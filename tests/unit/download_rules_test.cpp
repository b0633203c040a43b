// The pure decisions of the download: URL policy, header readings, size and space tests,
// what one read and one failed write mean, the retry pauses, the release's validators, the
// answer to a proxy's 407.

#include "download/proxy_rules.h"
#include "download/release_validators.h"
#include "download/response_rules.h"
#include "download/retry_policy.h"
#include "download/transfer_rules.h"
#include "download/url_parts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(UrlPolicy, HttpsAnywhereHttpOnlyToThisMachine) {
    struct Case {
        INTERNET_SCHEME scheme;
        const wchar_t* host;
        bool allowed;
    };
    const Case cases[] = {
        {INTERNET_SCHEME_HTTPS, L"www.quorvane.com", true},
        {INTERNET_SCHEME_HTTPS, L"10.1.2.3", true},
        {INTERNET_SCHEME_HTTPS, L"localhost", true},
        {INTERNET_SCHEME_HTTP, L"localhost", true},
        {INTERNET_SCHEME_HTTP, L"LocalHost", true},
        {INTERNET_SCHEME_HTTP, L"LOCALHOST", true},
        {INTERNET_SCHEME_HTTP, L"127.0.0.1", true},
        {INTERNET_SCHEME_HTTP, L"www.quorvane.com", false},
        {INTERNET_SCHEME_HTTP, L"localhost.", false},
        {INTERNET_SCHEME_HTTP, L"localhost.quorvane.com", false},
        {INTERNET_SCHEME_HTTP, L"xlocalhost", false},
        {INTERNET_SCHEME_HTTP, L"127.0.0.2", false},
        {INTERNET_SCHEME_HTTP, L"127.1", false},
        {INTERNET_SCHEME_HTTP, L"::1", false},
        {INTERNET_SCHEME_HTTP, L"[::1]", false},
        {INTERNET_SCHEME_HTTP, L"0.0.0.0", false},
        {INTERNET_SCHEME_HTTP, L"", false},
        // Unicode case rules would fold the long s to "s": only ASCII letters fold here.
        {INTERNET_SCHEME_HTTP, L"localho\u017Ft", false},
        {0, L"localhost", false},
        {3, L"localhost", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(urlAllowed(c.scheme, c.host), c.allowed) << c.scheme << " " << c.host;
    }
    // A host with an embedded terminator is not "localhost" plus nothing.
    EXPECT_FALSE(urlAllowed(INTERNET_SCHEME_HTTP, std::wstring_view(L"localhost\0x", 11)));
}

TEST(UrlPolicy, CrackingGivesSchemeHostPortAndPath) {
    CrackedUrl parts;
    ASSERT_EQ(crackUrl(L"https://WWW.Quorvane.com:8443/download/app?x=1", parts), 0u);
    EXPECT_EQ(parts.scheme, INTERNET_SCHEME_HTTPS);
    EXPECT_EQ(parts.port, 8443);
    EXPECT_STREQ(parts.host, L"WWW.Quorvane.com");
    EXPECT_EQ(std::wstring(parts.path).rfind(L"/download/app", 0), 0u);

    CrackedUrl plain;
    ASSERT_EQ(crackUrl(L"http://127.0.0.1/Skyloom-win-Setup.exe", plain), 0u);
    EXPECT_EQ(plain.scheme, INTERNET_SCHEME_HTTP);
    EXPECT_EQ(plain.port, 80);
    EXPECT_STREQ(plain.path, L"/Skyloom-win-Setup.exe");
}

TEST(UrlPolicy, UrlsThatCannotBeCrackedOrDoNotFitAreRefusedWithTheError) {
    // 255 characters of host fit the 256 with the terminator; 256 do not.
    const std::wstring fitsHost(255, L'h');
    const std::wstring longHost(256, L'h');
    const std::wstring fitsPath = L"/" + std::wstring(2046, L'p');
    const std::wstring longPath = L"/" + std::wstring(2047, L'p');
    CrackedUrl parts;
    EXPECT_EQ(crackUrl(L"https://" + fitsHost + L"/x", parts), 0u);
    EXPECT_NE(crackUrl(L"https://" + longHost + L"/x", parts), 0u);
    EXPECT_EQ(crackUrl(L"https://a.example" + fitsPath, parts), 0u);
    EXPECT_NE(crackUrl(L"https://a.example" + longPath, parts), 0u);
    EXPECT_NE(crackUrl(L"not a url", parts), 0u);
    EXPECT_NE(crackUrl(L"", parts), 0u);
    EXPECT_NE(crackUrl(L"https://", parts), 0u);
}

TEST(ResponseRules, RowsOfTheDecisionTable) {
    struct Case {
        DWORD status;
        std::int64_t resumeOffset;
        AnswerRow row;
    };
    const Case cases[] = {
        {429, 0, AnswerRow::Busy},         {429, 5, AnswerRow::Busy},
        {416, 5, AnswerRow::RangeRefused}, {416, 0, AnswerRow::Unexpected},
        {206, 5, AnswerRow::Partial},      {206, 0, AnswerRow::Unexpected},
        {200, 0, AnswerRow::Whole},        {200, 5, AnswerRow::Whole},
        {0, 0, AnswerRow::Unexpected},     {0, 5, AnswerRow::Unexpected},
        {404, 0, AnswerRow::Unexpected},   {503, 5, AnswerRow::Unexpected},
        {302, 0, AnswerRow::Unexpected},   {204, 0, AnswerRow::Unexpected},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(answerRow(c.status, c.resumeOffset), c.row) << c.status << " " << c.resumeOffset;
    }
}

TEST(ResponseRules, RetryAfterSecondsBecomeWholeMinutesAtLeastTwo) {
    struct Case {
        const wchar_t* header;
        std::int32_t minutes;
    };
    const Case cases[] = {
        {L"59", 2},
        {L"60", 2},
        {L"61", 2},
        {L"119", 2},
        {L"120", 2},
        {L"121", 3},
        {L"180", 3},
        {L"181", 4},
        {L"3600", 60},
        {L"1", 2},
        {L"0", 5},
        {L"-30", 5},
        {L"", 5},
        {L"abc", 5},
        {L"Wed, 21 Oct 2015 07:28:00 GMT", 5},
        {L" 240", 4},
        {L"300s", 5},
        {L"2147483588", 35791394},
        // Past the 32-bit range the value is given no meaning, but it must not overflow.
        {L"2147483647", 35791395},
        {L"99999999999", 35791395},
        // Past the 64-bit range too, where long is 64 bits as well as where it is 32.
        {L"99999999999999999999999", 35791395},
        {L"9223372036854775807", 35791395},
        {L"-9223372036854775808", 5},
        {L"-99999999999999999999999", 5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(busyMinutes(c.header), c.minutes) << c.header;
    }
}

TEST(ResponseRules, ContentRangeOfA416) {
    struct Case {
        const wchar_t* header;
        std::int64_t total;
    };
    const Case cases[] = {
        {L"bytes */2097152", 2097152},
        {L"bytes */0", 0},
        {L"bytes */419430401", 419430401},
        {L"bytes */*", -1},
        {L"bytes 0-9/20", -1},
        {L"", -1},
        {L"Bytes */5", -1},
        {L"items */5", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unsatisfiedRangeTotal(c.header), c.total) << c.header;
    }
}

TEST(ResponseRules, ContentRangeOfA206) {
    struct Case {
        const wchar_t* header;
        ContentRange range;
    };
    const Case cases[] = {
        {L"bytes 1000-2097151/2097152", {1000, 2097151, 2097152}},
        {L"bytes 1000-2097151/*", {1000, 2097151, -1}},
        {L"bytes 1000-/2097152", {1000, -1, -1}},
        {L"bytes 1000", {1000, -1, -1}},
        {L"", {-1, -1, -1}},
        {L"bytes */2097152", {-1, -1, -1}},
        {L"0-9/10", {-1, -1, -1}},
    };
    for (const Case& c : cases) {
        const ContentRange r = partialContentRange(c.header);
        EXPECT_EQ(r.first, c.range.first) << c.header;
        EXPECT_EQ(r.last, c.range.last) << c.header;
        EXPECT_EQ(r.total, c.range.total) << c.header;
    }
}

TEST(ResponseRules, A206ContinuesTheFileOnlyFromItsEndWithATotal) {
    struct Case {
        ContentRange range;
        std::int64_t resumeOffset;
        bool continues;
    };
    const Case cases[] = {
        {{1000, 1999, 2000}, 1000, true},
        {{999, 1999, 2000}, 1000, false},
        {{1001, 1999, 2000}, 1000, false},
        {{0, 1999, 2000}, 1000, false},
        {{1000, 1999, -1}, 1000, false},
        {{1000, 1999, 0}, 1000, false},
        {{-1, -1, -1}, 1000, false},
        // A file on disk as long as the server's, or longer: nothing can continue it.
        {{2000, 2000, 2000}, 2000, false},
        {{2500, 2600, 2000}, 2500, false},
        {{1000, -1, 5}, 1000, false},
        {{1000, 1999, 1999}, 1000, false},
        {{1000, 2000, 2000}, 1000, false},
        {{1999, 1999, 2000}, 1999, true},
        {{1000, 999, 2000}, 1000, false},
        {{1000, -5, 2000}, 1000, false},
        {{1000, 1000, 2000}, 1000, true}, // a short range: the body's count decides later
        {{INT64_MAX, INT64_MAX, INT64_MAX}, INT64_MAX, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(continuesFile(c.range, c.resumeOffset), c.continues)
            << c.range.first << " " << c.range.total << " " << c.resumeOffset;
    }
}

TEST(ResponseRules, A416ProvesCompletenessOnlyWithTheFileLengthWithinBounds) {
    struct Case {
        std::int64_t total;
        std::int64_t resumeOffset;
        bool complete;
    };
    const Case cases[] = {
        {1'048'576, 1'048'576, true},      {419'430'400, 419'430'400, true},
        {2'000'000, 2'000'000, true},      {1'048'575, 1'048'575, false},
        {419'430'401, 419'430'401, false}, {2'000'000, 1'999'999, false},
        {2'000'000, 2'000'001, false},     {-1, 2'000'000, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(provesComplete(c.total, c.resumeOffset), c.complete)
            << c.total << " " << c.resumeOffset;
    }
}

TEST(ResponseRules, ContentLength) {
    EXPECT_EQ(announcedLength(false, L""), -1);
    EXPECT_EQ(announcedLength(true, L""), 0);
    EXPECT_EQ(announcedLength(true, L"1048576"), 1'048'576);
    EXPECT_EQ(announcedLength(true, L"419430401"), 419'430'401);
    EXPECT_EQ(announcedLength(true, L"5000000000"), 5'000'000'000);
    EXPECT_EQ(announcedLength(true, L"-7"), -7);
    EXPECT_EQ(announcedLength(true, L"x"), 0);
}

TEST(ResponseRules, SizeBoundsAndTheirDetail) {
    struct Case {
        std::int64_t size;
        bool acceptable;
        std::uint32_t detail;
    };
    const Case cases[] = {
        {1'048'575, false, 0},
        {1'048'576, true, 1},
        {1'048'577, true, 1},
        {419'430'399, true, 399},
        {419'430'400, true, 400},
        {419'430'401, false, 400},
        {420'478'976, false, 401},
        {0, false, 0},
        {-1, false, 0},
        {-5'000'000, false, 0},
        {5'000'000'000, false, 4768},
        // Kept to 32 bits.
        {(std::int64_t{1} << 52) + (std::int64_t{3} << 20), false, 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sizeAcceptable(c.size), c.acceptable) << c.size;
        EXPECT_EQ(sizeDetail(c.size), c.detail) << c.size;
    }
}

TEST(ResponseRules, AgreementWithAnEarlierTotal) {
    struct Case {
        std::int64_t knownTotal;
        std::int64_t size;
        std::int64_t resumeOffset;
        bool changed;
    };
    const Case cases[] = {
        {0, 2'000'000, 1000, false},        {2'000'000, 2'000'000, 1000, false},
        {2'000'000, 2'000'001, 1000, true}, {2'000'000, 1'999'999, 1000, true},
        {2'000'000, 3'000'000, 0, false}, // after a 200 the file is already empty
    };
    for (const Case& c : cases) {
        EXPECT_EQ(totalChanged(c.knownTotal, c.size, c.resumeOffset), c.changed)
            << c.knownTotal << " " << c.size << " " << c.resumeOffset;
    }
}

TEST(ResponseRules, FreeSpaceMustHoldTheRestPlus400MiB) {
    EXPECT_EQ(spaceNeeded(2'000'000, 0), 2'000'000 + 419'430'400);
    EXPECT_EQ(spaceNeeded(2'000'000, 1'500'000), 500'000 + 419'430'400);
    EXPECT_EQ(spaceNeeded(2'000'000, 2'000'000), 419'430'400);
    const std::int64_t needed = spaceNeeded(419'430'400, 1'048'576);
    EXPECT_TRUE(enoughSpace(needed, needed));
    EXPECT_FALSE(enoughSpace(needed - 1, needed));
    EXPECT_TRUE(enoughSpace(needed + 1, needed));
    EXPECT_FALSE(enoughSpace(0, needed));
    EXPECT_EQ(wholeMegabytes(needed), 799);
    EXPECT_EQ(wholeMegabytes(needed - 1), 798);
    EXPECT_EQ(wholeMegabytes(1'048'575), 0);
    EXPECT_EQ(wholeMegabytes(1'048'576), 1);
}

TEST(ResponseRules, BytesOfAFileAboutToBeEmptiedCountAsFree) {
    struct Case {
        std::int64_t freeBytes;
        std::int64_t fileBytes;
        std::int64_t after;
    };
    const Case cases[] = {
        {1000, 0, 1000},
        {1000, 500, 1500},
        {0, 419'430'400, 419'430'400},
        {INT64_MAX - 10, 10, INT64_MAX},
        {INT64_MAX - 10, 11, INT64_MAX},
        {INT64_MAX, INT64_MAX, INT64_MAX},
        {1000, -1, 1000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(freeAfterEmptying(c.freeBytes, c.fileBytes), c.after)
            << c.freeBytes << " " << c.fileBytes;
    }
}

TEST(UrlPolicy, PlainHttpFollowsNoRedirectHttpsOnlyToHttps) {
    struct Case {
        int scheme;
        std::uint32_t policy;
    };
    const Case cases[] = {
        {INTERNET_SCHEME_HTTPS, WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP},
        {INTERNET_SCHEME_HTTP, WINHTTP_OPTION_REDIRECT_POLICY_NEVER},
        {0, WINHTTP_OPTION_REDIRECT_POLICY_NEVER},
        {3, WINHTTP_OPTION_REDIRECT_POLICY_NEVER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(redirectPolicyFor(c.scheme), c.policy) << c.scheme;
    }
}

TEST(TransferRules, WhatOneReadMeans) {
    struct Case {
        std::int64_t resumeOffset;
        DWORD read;
        std::int64_t size;
        ChunkVerdict verdict;
    };
    const Case cases[] = {
        {2'000'000, 0, 2'000'000, ChunkVerdict::Complete},
        {1'999'999, 0, 2'000'000, ChunkVerdict::EndedShort},
        {0, 0, 2'000'000, ChunkVerdict::EndedShort},
        {1'999'999, 1, 2'000'000, ChunkVerdict::Write},
        {1'999'999, 2, 2'000'000, ChunkVerdict::TooLong},
        {2'000'000, 1, 2'000'000, ChunkVerdict::TooLong},
        {0, 262'144, 2'000'000, ChunkVerdict::Write},
        {1'900'000, 262'144, 2'000'000, ChunkVerdict::TooLong},
        {1'737'856, 262'144, 2'000'000, ChunkVerdict::Write},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(judgeChunk(c.resumeOffset, c.read, c.size), c.verdict)
            << c.resumeOffset << " " << c.read << " " << c.size;
    }
}

TEST(TransferRules, WhatAFailedWriteMeans) {
    // The numbers a full disk reports, and their neighbours, written out rather than taken
    // from the SDK's names: the table must catch a wrong constant in the code.
    const struct {
        DWORD error;
        SetupResult result;
    } writes[] = {
        {112, SetupResult::NotEnoughSpace}, {39, SetupResult::NotEnoughSpace},
        {111, SetupResult::LocalError},     {113, SetupResult::LocalError},
        {38, SetupResult::LocalError},      {40, SetupResult::LocalError},
        {5, SetupResult::LocalError},       {0, SetupResult::LocalError},
    };
    for (const auto& w : writes) {
        EXPECT_EQ(writeFailure(w.error), w.result) << w.error;
        EXPECT_EQ(diskFull(w.error), w.result == SetupResult::NotEnoughSpace) << w.error;
    }
    // The bytes still missing before the chunk that failed, plus the margin, in whole MiB.
    EXPECT_EQ(megabytesNeededAfterDiskFull(3'000'000, 2'097'152), 400);
    EXPECT_EQ(megabytesNeededAfterDiskFull(419'430'400, 0), 800);
    EXPECT_EQ(megabytesNeededAfterDiskFull(419'430'400, 1), 799);
}

TEST(TransferRules, ACancelTurnsEveryEndingButSuccessIntoCancelledAndOneResend) {
    const struct {
        bool cancelled;
        SetupResult code, expected;
    } endings[] = {
        {false, SetupResult::UnexpectedStatus, SetupResult::UnexpectedStatus},
        {true, SetupResult::UnexpectedStatus, SetupResult::Cancelled},
        {true, SetupResult::TransferIncomplete, SetupResult::Cancelled},
        {true, SetupResult::Ok, SetupResult::Ok}, // a 416 that proved the file complete
    };
    for (const auto& e : endings) {
        EXPECT_EQ(attemptCode(e.cancelled, e.code), e.expected) << e.cancelled << toInt(e.code);
    }
    EXPECT_TRUE(resendWithoutClientCertificate(12044, false));
    EXPECT_FALSE(resendWithoutClientCertificate(12044, true)) << "once only";
    EXPECT_FALSE(resendWithoutClientCertificate(12045, false));
}

TEST(RetryPolicy, PausesOfNoneTwoAndFourSeconds) {
    EXPECT_EQ(kAttemptsPerUrl, 3);
    EXPECT_EQ(pauseSlices(0) * kPauseSliceMs, 0u);
    EXPECT_EQ(pauseSlices(1) * kPauseSliceMs, 2000u);
    EXPECT_EQ(pauseSlices(2) * kPauseSliceMs, 4000u);
    EXPECT_EQ(kReadChunkSize, 262'144u);
}

TEST(ProxyRules, WhichSchemeWhichCredentialsPromptOrNotHowManyTimes) {
    using enum ProxyAnswer;
    constexpr std::uint32_t kNtlmBasic = kSchemeNtlm | kSchemeBasic;
    constexpr std::uint32_t kAll = kNtlmBasic | kSchemeDigest | kSchemeNegotiate;
    struct Case {
        std::uint32_t offered, target;
        ProxyTries tried;
        bool haveKept, mayAsk;
        int prompts;
        ProxyStep step;
    };
    const Case cases[] = {
        {kAll, kTargetProxy, {}, true, true, 0, {Account, kSchemeNegotiate}},
        {kNtlmBasic, kTargetProxy, {}, false, false, 0, {Account, kSchemeNtlm}},
        {kAll, 0, {}, true, true, 0, {None, 0}}, // a 401's target: the server
        {kNtlmBasic, kTargetProxy, {true, false}, false, true, 0, {Person, kSchemeNtlm}},
        {kAll, kTargetProxy, {true, false}, true, false, 0, {Kept, kSchemeNegotiate}},
        {kSchemeDigest | kSchemeBasic, kTargetProxy, {}, false, true, 0, {Person, kSchemeDigest}},
        {kSchemeBasic, kTargetProxy, {}, true, true, 0, {Kept, kSchemeBasic}},
        {kSchemeBasic, kTargetProxy, {false, true}, true, true, 2, {Person, kSchemeBasic}},
        {kSchemeBasic, kTargetProxy, {false, true}, true, true, 3, {None, 0}},
        {0x4, kTargetProxy, {}, true, true, 0, {None, 0}}, // Passport alone
    };
    for (const Case& c : cases) {
        const ProxyStep step =
            proxyStep(c.offered, c.target, c.tried, c.haveKept, c.mayAsk, c.prompts);
        EXPECT_EQ(step.answer, c.step.answer) << c.offered << " " << c.prompts;
        EXPECT_EQ(step.scheme, c.step.scheme) << c.offered << " " << c.prompts;
    }
}

TEST(ReleaseValidators, OnlyAStrongQuotedPrintableEtagIsKept) {
    const std::wstring longest = L"\"" + std::wstring(254, L'x') + L"\"";
    const std::wstring tooLong = L"\"x" + longest.substr(1);
    const std::wstring_view strong[] = {L"\"5f3a-1b\"", L"\"\"", longest};
    const std::wstring_view other[] = {L"W/\"5f3a\"", L"5f3a",     L"\"5f3a",        L"\"",
                                       L"\"a b\"",    L"\"a\"b\"", L"\"caf\u00E9\"", tooLong};
    for (const std::wstring_view etag : strong) {
        EXPECT_EQ(keptFromAnswer(2'000'000, etag, L"", L"").etag, etag);
    }
    for (const std::wstring_view etag : other) {
        EXPECT_STREQ(keptFromAnswer(2'000'000, etag, L"", L"").etag, L"") << std::wstring(etag);
    }
}

TEST(ReleaseValidators, WhatTheResumeSendsInIfRange) {
    const wchar_t* kDate = L"Sun, 06 Nov 1994 08:50:37 GMT";
    const wchar_t* kModified = L"Sun, 06 Nov 1994 08:49:37 GMT"; // 60 s before
    EXPECT_EQ(ifRangeValue(keptFromAnswer(5, L"\"v2\"", kModified, kDate)), L"\"v2\"");
    EXPECT_EQ(resumeProof(keptFromAnswer(5, L"", L"", kDate)), ResumeProof::NoneKept);
    // Last-Modified stands for one version only 60 s or more before the answer's Date.
    const std::tuple<const wchar_t*, const wchar_t*, ResumeProof> cases[] = {
        {kModified, kDate, ResumeProof::LastModified},
        {L"Sun, 06 Nov 1994 08:49:38 GMT", kDate, ResumeProof::Unprovable},
        {L"Sunday, 06-Nov-94 08:49:37 GMT", kDate, ResumeProof::LastModified},
        {kModified, L"Sun Nov  6 08:50:37 1994", ResumeProof::LastModified},
        {kModified, L"", ResumeProof::Unprovable},
        {L"Sun, 6 Nov 1994 08:49:37 GMT", kDate, ResumeProof::Unprovable}};
    for (const auto& [modified, date, proof] : cases) {
        const ReleaseValidators kept = keptFromAnswer(5, L"", modified, date);
        EXPECT_EQ(resumeProof(kept), proof) << modified << " " << date;
        EXPECT_EQ(ifRangeValue(kept), proof == ResumeProof::LastModified ? modified : L"");
    }
    EXPECT_EQ(httpDateSeconds(kModified), 784111777);
    EXPECT_FALSE(httpDateSeconds(L"Fri, 29 Feb 2023 00:00:00 GMT"));
}

// Judged by what the resume sent in If-Range: a 206 need not repeat Last-Modified, must repeat
// the ETag, and a Last-Modified that is the answer's own time proves nothing either way.
TEST(ReleaseValidators, AnAnswerIsOfTheKeptReleaseByWhatTheResumeSent) {
    const wchar_t* kDate = L"Sun, 06 Nov 1994 08:50:37 GMT";
    const wchar_t* kModified = L"Sun, 06 Nov 1994 08:49:37 GMT"; // 60 s before: it proves
    const wchar_t* kLater = L"Sun, 06 Nov 1994 08:49:38 GMT";
    const ReleaseValidators byEtag = keptFromAnswer(3'000'000, L"\"v1\"", kModified, kDate);
    const ReleaseValidators byDate = keptFromAnswer(3'000'000, L"", kModified, kDate);
    const ReleaseValidators weak = keptFromAnswer(3'000'000, L"", kDate, kDate);
    const ReleaseValidators etagAndWeakDate = keptFromAnswer(3'000'000, L"\"v1\"", kDate, kDate);
    const struct {
        const char* name;
        const ReleaseValidators& kept;
        const wchar_t* etag;
        const wchar_t* lastModified;
        std::int64_t total;
        bool same;
    } cases[] = {
        {"etag, Last-Modified omitted", byEtag, L"\"v1\"", L"", 3'000'000, true},
        {"etag, another", byEtag, L"\"v2\"", kModified, 3'000'000, false},
        {"etag, weak", byEtag, L"W/\"v1\"", kModified, 3'000'000, false},
        {"etag sent, omitted", byEtag, L"", kModified, 3'000'000, false},
        {"etag, another Last-Modified", byEtag, L"\"v1\"", kLater, 3'000'000, false},
        {"etag, another total", byEtag, L"\"v1\"", L"", 3'000'001, false},
        {"etag, a date that proves nothing", etagAndWeakDate, L"\"v1\"", kLater, 3'000'000, true},
        {"date, omitted in the 206", byDate, L"", L"", 3'000'000, true},
        {"date, an ETag never kept", byDate, L"\"v9\"", kModified, 3'000'000, true},
        {"date, another", byDate, L"", kLater, 3'000'000, false},
        {"weak date, the total alone", weak, L"", kLater, 3'000'000, true},
        {"weak date, another total", weak, L"", kDate, 3'000'001, false},
        {"nothing kept: as before", ReleaseValidators{}, L"", L"", 5, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sameRelease(c.kept, c.etag, c.lastModified, c.total), c.same) << c.name;
    }
}

TEST(ReleaseValidators, AFileNotWholeOrOfAnotherFormatCountsAsAbsent) {
    using enum ValidatorFileVerdict;
    const std::string head = "skyloom-validadores 1\n";
    const std::string whole = head + "total 3000000\netag \"v1\"\nurl https://h/a\nfim\n";
    const std::pair<std::string, ValidatorFileVerdict> cases[] = {
        {whole, Usable},
        {whole.substr(0, whole.size() - 1), Torn},
        {"skyloom-valid", Torn},
        {"skyloom-validadores 2\n" + whole.substr(head.size()), OtherFormat},
        {whole + std::string(4097 - whole.size(), 'x'), TooLong},
        {head + "total 3000000\nfim\n", Malformed},
        {head + "total 3000000\netag W/\"v1\"\nfim\n", Malformed}};
    for (const auto& [bytes, verdict] : cases) {
        EXPECT_EQ(parseValidatorFile(bytes).verdict, verdict) << bytes;
    }
}

// A value exactly as long as its buffer would lose its terminator: refused, one shorter read
// back unchanged.
TEST(ReleaseValidators, EachFieldOfTheFileFitsItsRoomWithTheTerminator) {
    const std::string head = "skyloom-validadores 1\ntotal 3000000\n";
    const struct {
        const char* key;
        std::size_t capacity;
        const char* before; // the fields that come first, a validator among them
    } fields[] = {{"etag", kEtagCapacity, ""},
                  {"last-modified", kHttpDateCapacity, ""},
                  {"date", kHttpDateCapacity, "etag \"v1\"\n"},
                  {"url", kMaxValidatorUrlLength + 1, "etag \"v1\"\n"}};
    for (const auto& field : fields) {
        for (const std::size_t length : {field.capacity - 1, field.capacity}) {
            std::string value(length, 'x');
            value.front() = value.back() = '"'; // an ETag must be quoted; the rest take any
            const std::string text = head + field.before + field.key + " " + value + "\nfim\n";
            const ParsedValidators parsed = parseValidatorFile(text); // the URL points into it
            const bool fits = length < field.capacity;
            ASSERT_EQ(parsed.verdict == ValidatorFileVerdict::Usable, fits)
                << field.key << " " << length;
            if (!fits) {
                continue;
            }
            const ReleaseValidators& v = parsed.validators;
            const std::wstring wide(value.begin(), value.end());
            const std::string_view key = field.key;
            EXPECT_EQ(key == "etag"            ? std::wstring(v.etag)
                      : key == "last-modified" ? std::wstring(v.lastModified)
                      : key == "date"          ? std::wstring(v.date)
                                               : std::wstring(parsed.url.begin(), parsed.url.end()),
                      wide)
                << field.key;
        }
    }
}

} // namespace
