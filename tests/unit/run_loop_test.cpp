#include "app/cleanup.h"
#include "app/guarded_entry.h"
#include "job/setup_job.h"
#include "app/run_loop.h"
#include "build_config.h"
#include "log/diagnostic_log.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace {

using enum SetupResult;

// What one cycle's worker does, and how the dialogs answer.
struct Cycle {
    SetupResult result;
    bool userCancels = false;    // the progress dialog closes before the worker ends
    int failureAnswer = IDCLOSE; // 0: the failure dialog cannot be shown
    bool dialogAppears = true;
};

struct Script {
    std::vector<Cycle> cycles;
    SetupResult launch = Ok;
    bool workerHangs = false; // the worker outlives the wait after a cancel

    std::size_t workerRuns = 0;
    std::size_t dialogs = 0; // progress dialogs shown: the main thread's count of cycles
    std::vector<bool> failureRetryOffered;
    int launches = 0;
    std::vector<std::uint32_t> installerCodes; // of each launch that starts the installer
    bool checkedFileHeldAtEachLaunch = true;
    bool quietAtLaunch = false;
    bool fileThereAtEachRun = true;
    HANDLE release = nullptr;  // lets a hanging worker go
    HANDLE finished = nullptr; // set by the worker on its way out
};
Script script;

DWORD WINAPI fakeWorker(LPVOID argument) {
    SetupJob& job = *static_cast<SetupJob*>(argument);
    const Cycle& cycle = script.cycles.at(script.workerRuns++);
    if (script.workerRuns > 1) {
        script.fileThereAtEachRun =
            script.fileThereAtEachRun &&
            GetFileAttributesW(job.installerPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    if (cycle.userCancels) {
        // Held until the dialog has closed and the cancel has been raised.
        while (!job.cancelRequested.load()) {
            Sleep(5);
        }
        if (script.workerHangs) {
            WaitForSingleObject(script.release, INFINITE);
        }
    }
    job.result = cycle.result;
    job.detail = 7;
    job.phase.store(cycle.result == Ok ? JobPhase::Succeeded : JobPhase::Failed);
    SetEvent(script.finished);
    return 0;
}

void fakeProgressDialog(SetupJob& job) {
    const Cycle& cycle = script.cycles.at(script.dialogs++);
    if (!cycle.dialogAppears) {
        return;
    }
    job.dialogCreated = true;
    if (cycle.userCancels) {
        return;
    }
    while (static_cast<int>(job.phase.load()) < static_cast<int>(JobPhase::Succeeded)) {
        Sleep(5);
    }
    job.dialogDone = true;
}

int fakeFailureDialog(SetupJob&, bool allowRetry) {
    script.failureRetryOffered.push_back(allowRetry);
    const std::size_t cycle = script.failureRetryOffered.size() - 1;
    return allowRetry ? script.cycles.at(cycle).failureAnswer : IDCLOSE;
}

void throwingProgressDialog(SetupJob&) {
    throw std::bad_alloc();
}

// As the entry point runs the loop, so that an exception meets its clean-up.
int guardedLoop(SetupJob& job, void* steps) {
    return runSetupCycleWith(job, *static_cast<const RunLoopSteps*>(steps));
}

SetupResult fakeLaunch(SetupJob& job) {
    script.checkedFileHeldAtEachLaunch =
        script.checkedFileHeldAtEachLaunch && job.verifiedFile != INVALID_HANDLE_VALUE;
    const std::size_t launch = static_cast<std::size_t>(script.launches++);
    job.installerExitCode =
        launch < script.installerCodes.size() ? script.installerCodes[launch] : 0;
    script.quietAtLaunch = job.quietInstaller;
    job.detail = script.launch == InstallerFailed ? 3010 : 1260;
    return script.launch;
}

struct RunLoopCase {
    const char* name;
    std::vector<Cycle> cycles;
    bool noWindow;
    bool noRun;
    SetupResult launch;
    int exitCode;
    std::vector<bool> failureDialogs; // allowRetry of each failure dialog shown
    int launches;
    std::vector<std::string> lastLines;
    bool cleanedUp = true;
    bool workerHangs = false;
    bool dialogThrows = false;
    std::vector<std::uint32_t> installerCodes = {};
};

class RunLoop : public testing::TestWithParam<RunLoopCase> {
  protected:
    void SetUp() override {
        const RunLoopCase& c = GetParam();
        // A folder of its own: the scratch folder holds the log, and clean-up removes only an
        // empty working folder.
        scratch_.placeWorkFolder(job_);
        std::ofstream(job_.installerPath.c_str()) << "partial";
        job_.verifiedFile = CreateFileW(job_.installerPath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        // As start-up sets both from the window policy.
        job_.noWindow = job_.quietInstaller = c.noWindow;
        job_.noRun = c.noRun;
        script = Script{};
        script.cycles = c.cycles;
        script.launch = c.launch;
        script.workerHangs = c.workerHangs;
        script.installerCodes = c.installerCodes;
        script.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        script.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        // A worker left running must be done with the job before the job goes.
        SetEvent(script.release);
        WaitForSingleObject(script.finished, 10000);
        CloseHandle(script.release);
        CloseHandle(script.finished);
        if (job_.verifiedFile != INVALID_HANDLE_VALUE) {
            CloseHandle(job_.verifiedFile);
        }
        job_.workFolderHandle.reset();
        DeleteFileW(job_.installerPath.c_str());
        RemoveDirectoryW(job_.workFolder.c_str());
    }
    std::vector<std::string> logMessages() const { return scratch_.logMessages(); }
    ScratchFolder scratch_{L"skyloom-run-loop-test"};
    SetupJob job_;
};

TEST_P(RunLoop, EndsWithItsExitCode) {
    const RunLoopCase& c = GetParam();
    // A request still open when the user cancels is closed by the run loop.
    HINTERNET request = WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
    ASSERT_NE(request, nullptr);
    job_.activeRequest.store(request);

    RunLoopSteps steps{fakeWorker, fakeProgressDialog, fakeFailureDialog, fakeLaunch, 300};
    if (c.dialogThrows) {
        steps.progressDialog = throwingProgressDialog;
    }
    EXPECT_EQ(runGuarded(job_, guardedLoop, &steps), c.exitCode);

    EXPECT_EQ(script.workerRuns, c.cycles.size());
    EXPECT_EQ(script.failureRetryOffered, c.failureDialogs);
    EXPECT_EQ(script.launches, c.launches);
    // A progress dialog that could not be shown means no window, never a quiet installer.
    EXPECT_EQ(job_.noWindow, c.noWindow || !c.cycles.back().dialogAppears);
    EXPECT_EQ(job_.quietInstaller, c.noWindow);
    EXPECT_EQ(script.quietAtLaunch, c.noWindow && c.launches > 0);
    EXPECT_TRUE(script.fileThereAtEachRun) << "cleaned up before a Retry";
    EXPECT_TRUE(script.checkedFileHeldAtEachLaunch);
    const bool fileThere =
        GetFileAttributesW(job_.installerPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(fileThere, !c.cleanedUp);
    const bool folderThere = GetFileAttributesW(job_.workFolder.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(folderThere, !c.cleanedUp);
    EXPECT_EQ(job_.verifiedFile != INVALID_HANDLE_VALUE, !c.cleanedUp);
    const bool cancelled = c.cycles.back().userCancels;
    EXPECT_EQ(job_.cancelRequested.load(), cancelled);
    if (cancelled) {
        EXPECT_EQ(job_.activeRequest.load(), nullptr);
    } else {
        WinHttpCloseHandle(job_.activeRequest.exchange(nullptr));
    }
    const std::vector<std::string> lines = logMessages();
    ASSERT_GE(lines.size(), c.lastLines.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - c.lastLines.size(), lines.end()), c.lastLines);
}

const std::vector<bool> kNoDialog{};
const std::string kFullInstallerLine =
    "o instalador completo esta' em " +
    std::string(std::begin(SKYLOOM_FULL_INSTALLER_URL), std::end(SKYLOOM_FULL_INSTALLER_URL) - 1);

INSTANTIATE_TEST_SUITE_P(
    Table, RunLoop,
    testing::Values(
        RunLoopCase{"no_window_failure",
                    {{NetworkError}},
                    true,
                    false,
                    Ok,
                    10,
                    kNoDialog,
                    0,
                    {"erro 10 (detalhe 7)"}},
        RunLoopCase{"no_window_checked_not_run",
                    {{Ok}},
                    true,
                    true,
                    Ok,
                    0,
                    kNoDialog,
                    0,
                    {"verificado; --sem-executar: nao corre"}},
        // A launch's cause comes after its failure.
        RunLoopCase{"no_window_launch_failed",
                    {{Ok}},
                    true,
                    false,
                    LaunchFailed,
                    40,
                    kNoDialog,
                    1,
                    {"causa: uma politica do sistema nao deixa correr o programa (1260)"}},
        RunLoopCase{"window_failure_closed",
                    {{UnexpectedStatus}},
                    false,
                    false,
                    Ok,
                    12,
                    {true},
                    0,
                    {"erro 12 (detalhe 7)"}},
        RunLoopCase{
            "window_retry_then_success",
            {{TransferIncomplete, false, IDRETRY}, {SignatureInvalid, false, IDRETRY}, {Ok}},
            false,
            true,
            Ok,
            0,
            {true, true},
            0,
            {"erro 14 (detalhe 7)", "tentar de novo", "erro 20 (detalhe 7)", "tentar de novo",
             "verificado; --sem-executar: nao corre"}},
        RunLoopCase{"window_escape_is_no_retry",
                    {{ServerBusy, false, IDCANCEL}},
                    false,
                    false,
                    Ok,
                    11,
                    {true},
                    0,
                    {"erro 11 (detalhe 7)"}},
        RunLoopCase{"window_installer_failed_no_retry",
                    {{Ok}},
                    false,
                    false,
                    InstallerFailed,
                    41,
                    {false},
                    1,
                    {}},
        RunLoopCase{"window_launched_ok", {{Ok}}, false, false, Ok, 0, kNoDialog, 1, {}},
        // Another installation in progress: Retry starts the checked file again, with no new
        // download; a Close passes 1618 on.
        RunLoopCase{"window_1618_then_retry",
                    {{Ok, false, IDRETRY}},
                    false,
                    false,
                    Ok,
                    0,
                    {true},
                    2,
                    {"tentar de novo"},
                    true,
                    false,
                    false,
                    {1618, 0}},
        RunLoopCase{"window_1618_closed",
                    {{Ok}},
                    false,
                    false,
                    Ok,
                    1618,
                    {true},
                    1,
                    {},
                    true,
                    false,
                    false,
                    {1618}},
        // Nobody pressed anything: no Cancel, the run ends as without a window.
        RunLoopCase{"progress_dialog_never_appears",
                    {{NetworkError, false, IDRETRY, false}},
                    false,
                    false,
                    Ok,
                    10,
                    kNoDialog,
                    0,
                    {"a janela de progresso nao apareceu: continuo sem janela", kFullInstallerLine,
                     "erro 10 (detalhe 7)"}},
        RunLoopCase{"progress_dialog_never_appears_and_the_installer_runs",
                    {{Ok, false, IDCLOSE, false}},
                    false,
                    false,
                    Ok,
                    0,
                    kNoDialog,
                    1,
                    {"a janela de progresso nao apareceu: continuo sem janela"}},
        RunLoopCase{"failure_dialog_not_shown",
                    {{UnexpectedStatus, false, 0}},
                    false,
                    false,
                    Ok,
                    12,
                    {true},
                    0,
                    {"erro 12 (detalhe 7)", "a janela de erro nao apareceu", kFullInstallerLine}},
        RunLoopCase{"user_cancel_wins_over_result",
                    {{Ok, true}},
                    false,
                    false,
                    Ok,
                    1,
                    kNoDialog,
                    0,
                    {"cancelado por quem instala"}},
        RunLoopCase{"cancel_after_retry",
                    {{NetworkError, false, IDRETRY}, {NetworkError, true}},
                    false,
                    false,
                    Ok,
                    1,
                    {true},
                    0,
                    {"erro 10 (detalhe 7)", "tentar de novo", "cancelado por quem instala"}},
        // The worker may still hold verifiedFile: neither it nor the file is touched.
        RunLoopCase{"worker_outlives_the_wait",
                    {{Ok, true}},
                    false,
                    false,
                    Ok,
                    1,
                    kNoDialog,
                    0,
                    {"o trabalho nao acabou: o ficheiro fica para a proxima vez",
                     "cancelado por quem instala"},
                    false,
                    true},
        // The same after the dialog threw: the entry point's clean-up leaves it all too.
        RunLoopCase{"dialog_throws_and_worker_outlives_the_wait",
                    {{Ok, true}},
                    false,
                    false,
                    Ok,
                    50,
                    kNoDialog,
                    0,
                    {"sem memoria para continuar (8)",
                     "o trabalho nao acabou: o ficheiro fica para a proxima vez"},
                    false,
                    true,
                    true}),
    [](const testing::TestParamInfo<RunLoopCase>& info) { return std::string(info.param.name); });

TEST(RunLoopOutcome, HowTheProgressDialogEnded) {
    EXPECT_EQ(dialogEnd(true, true), DialogEnd::SawFinalPhase);
    EXPECT_EQ(dialogEnd(false, true), DialogEnd::ClosedFirst);
    // No window at all is no Cancel.
    EXPECT_EQ(dialogEnd(false, false), DialogEnd::NeverAppeared);
}

TEST(RunLoopOutcome, AFreshFolderIsNamedWhenTheWorkerKeepsTheFile) {
    ScratchFolder scratch(L"skyloom-run-loop-fresh");
    SetupJob job;
    job.workFolder = L"C:\\T\\Skyloom-Setup-0A1B2C3D";
    job.freshWorkFolder = true;
    logWhereTheFileStays(job);
    EXPECT_EQ(scratch.logMessages(),
              std::vector<std::string>{"o trabalho nao acabou: o ficheiro fica em "
                                       "C:\\T\\Skyloom-Setup-0A1B2C3D"});
}

// The entry point cleans up after an exception: the worker must be stopped before that, or
// the clean-up would pull the file from under it.
TEST(RunLoopException, ADialogThatThrowsStopsTheWorkerBeforeTheExceptionLeaves) {
    ScratchFolder scratch(L"skyloom-run-loop-throw");
    SetupJob job;
    job.workFolder = scratch.path();
    job.installerPath = scratch.file(L"Skyloom-win-Setup.exe");
    script = Script{};
    script.cycles = {Cycle{NetworkError, true}}; // the worker runs until the cancel comes
    script.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    script.finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const RunLoopSteps steps{fakeWorker, throwingProgressDialog, fakeFailureDialog, fakeLaunch,
                             5000};

    EXPECT_THROW((void)runSetupCycleWith(job, steps), std::bad_alloc);
    EXPECT_TRUE(job.cancelRequested.load());
    EXPECT_EQ(WaitForSingleObject(script.finished, 0), WAIT_OBJECT_0)
        << "the worker was still running when the exception left the run loop";

    SetEvent(script.release);
    WaitForSingleObject(script.finished, 5000);
    CloseHandle(script.release);
    CloseHandle(script.finished);
}

} // namespace
