// The retry loop with scripted attempt codes and a counted clock: attempts per URL,
// pauses, classes of codes, the file it opens and the state it carries from attempt to attempt.

#include "job/setup_job.h"
#include "download/download_installer.h"
#include "log/diagnostic_log.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

struct AttemptSeen {
    std::wstring url;
    std::int64_t resumeOffset;
    std::int64_t knownTotal;
    int slicesBefore; // pause slices slept since the previous attempt
};

struct Script {
    std::vector<SetupResult> codes;
    std::size_t next = 0;
    std::vector<AttemptSeen> seen;
    int slices = 0;
    int slicesAtLastAttempt = 0;
    int cancelAtSlice = -1;   // raise the cancel flag when this many slices have been slept
    int cancelAtAttempt = -1; // raise it during the attempt of this index
    SetupJob* job = nullptr;
    // What the scripted attempts do to the carried state.
    std::int64_t growBy = 0;
    std::int64_t totalToAccept = 0;
};

Script* script = nullptr;

AttemptOutcome scriptedAttempt(SetupJob& job, const std::wstring& url, HANDLE file,
                               FilePosition at) {
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    script->seen.push_back(
        {url, at.resumeOffset, at.knownTotal, script->slices - script->slicesAtLastAttempt});
    script->slicesAtLastAttempt = script->slices;
    if (static_cast<int>(script->seen.size()) - 1 == script->cancelAtAttempt) {
        job.cancelRequested.store(true);
    }
    at.resumeOffset += script->growBy;
    if (script->totalToAccept != 0) {
        at.knownTotal = script->totalToAccept;
    }
    EXPECT_LT(script->next, script->codes.size()) << "more attempts than scripted";
    const SetupResult code = script->next < script->codes.size() ? script->codes[script->next++]
                                                                 : SetupResult::LocalError;
    return {code, at};
}

void countedSleep(DWORD milliseconds) {
    EXPECT_EQ(milliseconds, 100u);
    ++script->slices;
    if (script->slices == script->cancelAtSlice) {
        script->job->cancelRequested.store(true);
    }
}

const RetrySteps kScripted{scriptedAttempt, countedSleep, &kPartialDownloadIo};

class RetryLoop : public testing::Test {
  protected:
    void SetUp() override {
        job.installerPath = scratch.file(L"Skyloom-win-Setup.exe");
        job.workFolder = scratch.path();
        job.workFolderHandle = scratch.hold();
        s.job = &job;
        script = &s;
    }
    void TearDown() override { script = nullptr; }

    SetupResult run(std::vector<SetupResult> codes) {
        s.codes = std::move(codes);
        return downloadInstallerWith(job, kScripted);
    }

    std::vector<std::string> logMessages() const { return scratch.logMessages(); }

    ScratchFolder scratch{L"skyloom-retry-test", L"retry.log"};
    SetupJob job;
    Script s;
};

using enum SetupResult;

TEST_F(RetryLoop, EmptyListOpensTheFileAndMakesNoAttempt) {
    job.detail = 77;
    EXPECT_EQ(run({}), NetworkError);
    EXPECT_EQ(job.detail, 77u);
    EXPECT_TRUE(s.seen.empty());
    EXPECT_NE(GetFileAttributesW(job.installerPath.c_str()), INVALID_FILE_ATTRIBUTES)
        << "OPEN_ALWAYS creates the file";
    EXPECT_EQ(job.phase.load(), JobPhase::Connecting);
}

TEST_F(RetryLoop, AFileThatCannotBeOpenedIsALocalError) {
    // A folder where the file belongs.
    ASSERT_TRUE(CreateDirectoryW(job.installerPath.c_str(), nullptr));
    job.urls = {L"https://a.example/x"};
    job.phase.store(JobPhase::Downloading);
    EXPECT_EQ(run({}), LocalError);
    RemoveDirectoryW(job.installerPath.c_str());
    EXPECT_EQ(job.detail, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(s.seen.empty());
    EXPECT_EQ(job.phase.load(), JobPhase::Connecting);
}

// Unless the clean try after a failed check could not delete the file: its bytes go then,
// with their validators, before the first request.
TEST_F(RetryLoop, TheBytesAlreadyThereAreTheResumeOffset) {
    const std::wstring validators = scratch.file(L"Skyloom-win-Setup.validadores");
    for (const bool startFromZero : {false, true}) {
        std::ofstream(job.installerPath.c_str(), std::ios::binary) << std::string(12345, 'x');
        std::ofstream(validators.c_str(), std::ios::binary)
            << "skyloom-validadores 1\ntotal 3000000\netag \"v1\"\nfim\n";
        s = Script{};
        s.job = &job;
        job.startFromZero = startFromZero;
        job.urls = {L"https://a.example/x"};
        job.downloaded.store(-1);
        job.total.store(999);
        EXPECT_EQ(run({Ok}), Ok);
        const std::int64_t kept = startFromZero ? 0 : 12345;
        ASSERT_EQ(s.seen.size(), 1u);
        EXPECT_EQ(s.seen[0].resumeOffset, kept);
        EXPECT_EQ(s.seen[0].knownTotal, 0);
        EXPECT_EQ(job.downloaded.load(), kept);
        EXPECT_EQ(job.total.load(), 999) << "total is not the retry loop's";
        EXPECT_EQ(GetFileAttributesW(validators.c_str()) != INVALID_FILE_ATTRIBUTES,
                  !startFromZero);
        EXPECT_FALSE(job.startFromZero) << "once emptied, a Retry resumes";
    }
}

TEST_F(RetryLoop, ThreeAttemptsWithPausesThenTheNextUrlAtOnce) {
    job.urls = {L"https://a.example/x", L"https://b.example/y"};
    EXPECT_EQ(run({NetworkError, NetworkError, NetworkError, Ok}), Ok);
    ASSERT_EQ(s.seen.size(), 4u);
    EXPECT_EQ(s.seen[0].slicesBefore, 0);
    EXPECT_EQ(s.seen[1].slicesBefore, 20);
    EXPECT_EQ(s.seen[2].slicesBefore, 40);
    EXPECT_EQ(s.seen[3].slicesBefore, 0);
    EXPECT_EQ(s.seen[3].url, L"https://b.example/y");
    const std::vector<std::string> expected = {"nova tentativa (2) em https://a.example/x",
                                               "nova tentativa (3) em https://a.example/x"};
    EXPECT_EQ(logMessages(), expected);
}

TEST_F(RetryLoop, IncompleteThenOkOnOneUrl) {
    job.urls = {L"https://a.example/x", L"https://b.example/y"};
    EXPECT_EQ(run({TransferIncomplete, Ok}), Ok);
    ASSERT_EQ(s.seen.size(), 2u);
    EXPECT_EQ(s.seen[1].url, L"https://a.example/x");
}

TEST_F(RetryLoop, CodesThatMoveOnToTheNextUrlAtOnce) {
    for (SetupResult code : {UnexpectedStatus, UnexpectedSize, UrlRefused}) {
        s = Script{};
        s.job = &job;
        job.urls = {L"https://a.example/x", L"https://b.example/y"};
        EXPECT_EQ(run({code, Ok}), Ok) << toInt(code);
        ASSERT_EQ(s.seen.size(), 2u) << toInt(code);
        EXPECT_EQ(s.seen[1].url, L"https://b.example/y");
        EXPECT_EQ(s.seen[1].slicesBefore, 0);
    }
}

TEST_F(RetryLoop, CodesThatEndTheDownloadAtOnce) {
    for (SetupResult code : {Ok, Cancelled, ServerBusy, NotEnoughSpace, LocalError}) {
        s = Script{};
        s.job = &job;
        job.urls = {L"https://a.example/x", L"https://b.example/y"};
        EXPECT_EQ(run({code}), code) << toInt(code);
        EXPECT_EQ(s.seen.size(), 1u) << toInt(code);
    }
}

TEST_F(RetryLoop, TheLastAttemptsCodeIsTheResult) {
    job.urls = {L"https://a.example/x", L"https://b.example/y"};
    EXPECT_EQ(run({NetworkError, NetworkError, NetworkError, UnexpectedStatus}), UnexpectedStatus);
    EXPECT_EQ(s.seen.size(), 4u);

    s = Script{};
    s.job = &job;
    EXPECT_EQ(run({UnexpectedStatus, TransferIncomplete, TransferIncomplete, NetworkError}),
              NetworkError);
    EXPECT_EQ(s.seen.size(), 4u);
}

TEST_F(RetryLoop, OffsetAndTotalCrossFromOneUrlToTheNext) {
    job.urls = {L"https://a.example/x", L"https://b.example/y"};
    s.growBy = 1000;
    s.totalToAccept = 5'000'000;
    EXPECT_EQ(run({TransferIncomplete, TransferIncomplete, TransferIncomplete, Ok}), Ok);
    ASSERT_EQ(s.seen.size(), 4u);
    EXPECT_EQ(s.seen[3].url, L"https://b.example/y");
    EXPECT_EQ(s.seen[3].resumeOffset, 3000);
    EXPECT_EQ(s.seen[3].knownTotal, 5'000'000);
}

// A Cancel is seen before the next attempt: no server is asked again once the user stopped.
TEST_F(RetryLoop, ACancelEndsThePauseWithinASliceAndNoAttemptFollows) {
    struct Case {
        const char* name;
        int cancelAtSlice;
        int cancelAtAttempt;
        std::vector<SetupResult> codes;
        int slices;
    };
    const Case cases[] = {
        {"during the 2 s pause", 5, -1, {NetworkError}, 5},
        {"during the 4 s pause", 20 + 5, -1, {NetworkError, NetworkError}, 25},
        {"on the last slice", 20, -1, {NetworkError}, 20},
        // The attempt failed after the flag went up, in a way that would try the same URL
        // again, or the next URL at once.
        {"same URL again", -1, 0, {NetworkError}, 0},
        {"next URL", -1, 0, {UnexpectedStatus}, 0},
        {"after two attempts", -1, 1, {TransferIncomplete, TransferIncomplete}, 20},
    };
    for (const Case& c : cases) {
        s = Script{};
        s.job = &job;
        s.cancelAtSlice = c.cancelAtSlice;
        s.cancelAtAttempt = c.cancelAtAttempt;
        job.cancelRequested.store(false);
        job.urls = {L"https://a.example/x", L"https://b.example/y"};
        EXPECT_EQ(run(c.codes), Cancelled) << c.name;
        EXPECT_EQ(s.seen.size(), c.codes.size()) << c.name;
        EXPECT_EQ(s.slices, c.slices) << c.name;
    }
}

TEST_F(RetryLoop, ANewCallStartsAgainFromTheFileAndNoKnownTotal) {
    job.urls = {L"https://a.example/x"};
    s.totalToAccept = 5'000'000;
    EXPECT_EQ(run({ServerBusy}), ServerBusy);
    s.next = 0;
    s.totalToAccept = 0;
    EXPECT_EQ(run({Ok}), Ok);
    ASSERT_EQ(s.seen.size(), 2u);
    EXPECT_EQ(s.seen[1].knownTotal, 0);
}

} // namespace
