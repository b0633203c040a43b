#include "job/setup_job.h"
#include "app/worker.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <new>
#include <string>
#include <vector>

namespace {

using enum SetupResult;

struct DownloadStep {
    SetupResult code;
    bool resumed; // the attempt sent a Range header
};

struct WorkerCase {
    const char* name;
    std::vector<DownloadStep> downloads;
    std::vector<SetupResult> verifies;
    SetupResult result;
    bool fileKept;
    bool restartLogged;
    bool throwOnFirstDownload = false;
    // Someone else holds the file from the first check on, so the discard before the clean
    // try fails: that try must start from zero all the same.
    bool discardFails = false;
};

// The fakes follow a script; plain function pointers cannot capture, so it is file-wide.
struct Script {
    const WorkerCase* c = nullptr;
    std::size_t downloads = 0;
    std::size_t verifies = 0;
    std::vector<std::int64_t> countersAtDownload; // downloaded + total seen by each download
    std::vector<bool> fromZeroAtDownload;         // job.startFromZero seen by each download
    HANDLE holder = INVALID_HANDLE_VALUE;
};
Script script;

SetupResult fakeDownload(SetupJob& job) {
    if (script.c->throwOnFirstDownload) {
        throw std::bad_alloc();
    }
    const DownloadStep step = script.c->downloads.at(script.downloads++);
    script.countersAtDownload.push_back(job.downloaded.load() + job.total.load());
    script.fromZeroAtDownload.push_back(job.startFromZero);
    std::ofstream(job.installerPath.c_str(), std::ios::binary) << "MZ installer bytes";
    job.downloaded = 18;
    job.total = 18;
    job.resumedDownload = job.resumedDownload || step.resumed;
    return step.code;
}

SetupResult fakeVerify(SetupJob& job) {
    job.verifiedFile = CreateFileW(job.installerPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (script.c->discardFails && script.holder == INVALID_HANDLE_VALUE) {
        // No delete sharing; the spent budget of waits gives the hold up at once.
        script.holder =
            CreateFileW(job.installerPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        heldWaitedMs = kHeldProcessBudgetMs;
    }
    return script.c->verifies.at(script.verifies++);
}

class WorkerSequence : public testing::TestWithParam<WorkerCase> {
  protected:
    void SetUp() override {
        job_.workFolder = scratch_.path();
        job_.workFolderHandle = scratch_.hold();
        job_.installerPath = scratch_.file(L"Skyloom-win-Setup.exe");
        script = Script{};
        script.c = &GetParam();
    }
    void TearDown() override {
        if (job_.verifiedFile != INVALID_HANDLE_VALUE) {
            CloseHandle(job_.verifiedFile);
        }
        if (script.holder != INVALID_HANDLE_VALUE) {
            CloseHandle(script.holder);
            heldWaitedMs = 0;
        }
    }
    std::string log() const { return scratch_.logText(); }
    ScratchFolder scratch_{L"skyloom-worker-test", L"worker.log"};
    SetupJob job_;
};

TEST_P(WorkerSequence, PublishesOutcomeAndHandlesTheFile) {
    const WorkerCase& c = GetParam();
    job_.resumedDownload = true; // left over from an earlier run: the worker clears it
    runWorkerSequence(job_, WorkerSteps{fakeDownload, fakeVerify});

    EXPECT_EQ(job_.result, c.result);
    EXPECT_EQ(job_.phase.load(), c.result == Ok ? JobPhase::Succeeded : JobPhase::Failed);
    EXPECT_EQ(script.downloads, c.downloads.size());
    EXPECT_EQ(script.verifies, c.verifies.size());
    const bool exists = GetFileAttributesW(job_.installerPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(exists, c.fileKept);
    // Only a success keeps the checked file locked.
    EXPECT_EQ(job_.verifiedFile != INVALID_HANDLE_VALUE, c.result == Ok);

    const std::string text = log();
    const std::string restart =
        "a verificacao falhou depois de uma retoma: recomeca do zero, uma vez\r\n";
    const std::size_t at = text.find(restart);
    EXPECT_EQ(at != std::string::npos, c.restartLogged) << text;
    if (at != std::string::npos) {
        EXPECT_EQ(text.find(restart, at + 1), std::string::npos) << "logged twice";
        ASSERT_EQ(script.countersAtDownload.size(), 2u);
        EXPECT_EQ(script.countersAtDownload[1], 0) << "downloaded and total not reset";
        EXPECT_EQ(script.fromZeroAtDownload, (std::vector<bool>{false, c.discardFails}));
    }
    if (c.throwOnFirstDownload) {
        EXPECT_EQ(job_.detail, static_cast<std::uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_NE(text.find("sem memoria para continuar (8)\r\n"), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, WorkerSequence,
    testing::Values(
        WorkerCase{"success_keeps_file_open", {{Ok, false}}, {Ok}, Ok, true, false},
        WorkerCase{"resumed_then_fresh_success",
                   {{Ok, true}, {Ok, false}},
                   {SignatureInvalid, Ok},
                   Ok,
                   true,
                   true},
        WorkerCase{"fresh_failure_no_restart",
                   {{Ok, false}},
                   {SignerMismatch},
                   SignerMismatch,
                   false,
                   false},
        WorkerCase{"no_third_download",
                   {{Ok, true}, {Ok, true}},
                   {VersionRejected, SignatureInvalid},
                   SignatureInvalid,
                   false,
                   true},
        WorkerCase{"discard_fails_the_clean_try_empties_the_file",
                   {{Ok, true}, {Ok, false}},
                   {SignatureInvalid, Ok},
                   Ok,
                   true,
                   true,
                   false,
                   true},
        WorkerCase{"restart_download_fails_keeps_partial",
                   {{Ok, true}, {NetworkError, false}},
                   {SignerMismatch},
                   NetworkError,
                   true,
                   true},
        WorkerCase{"revocation_network_error_keeps_file",
                   {{Ok, true}},
                   {NetworkError},
                   NetworkError,
                   true,
                   false},
        WorkerCase{"local_error_from_check_keeps_file",
                   {{Ok, true}},
                   {LocalError},
                   LocalError,
                   true,
                   false},
        WorkerCase{"download_failure_skips_check",
                   {{TransferIncomplete, true}},
                   {},
                   TransferIncomplete,
                   true,
                   false},
        WorkerCase{
            "allocation_failure_ends_with_local_error", {}, {}, LocalError, false, false, true}),
    [](const testing::TestParamInfo<WorkerCase>& info) { return std::string(info.param.name); });

} // namespace
