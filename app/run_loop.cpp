#include "app/run_loop.h"

#include "app/cleanup.h"
#include "job/cancel.h"
#include "job/failure_cause.h"
#include "job/setup_job.h"
#include "app/launch.h"
#include "app/worker.h"
#include "base/handles.h"
#include "build_config.h"
#include "log/diagnostic_log.h"
#include "ui/failure_dialog.h"
#include "ui/progress_dialog.h"

const RunLoopSteps kRunLoopSteps{runWorker, showProgressDialog, showFailureDialog, launchInstaller,
                                 kWorkerWaitMilliseconds};

DialogEnd dialogEnd(bool dialogDone, bool dialogCreated) {
    if (dialogDone) {
        return DialogEnd::SawFinalPhase;
    }
    return dialogCreated ? DialogEnd::ClosedFirst : DialogEnd::NeverAppeared;
}

namespace {

// A dialog that closed without seeing the final phase cancels the worker; then the worker gets
// its time to end. True when it ended.
bool stopAfterDialog(SetupJob& job, HANDLE thread, DWORD waitMilliseconds) {
    if (!job.dialogDone) {
        (void)cancelWorker(job);
    }
    return WaitForSingleObject(thread, waitMilliseconds) == WAIT_OBJECT_0;
}

// Runs the worker on its own thread while the progress dialog shows.
WorkerEnd runWorkerWithDialog(SetupJob& job, const RunLoopSteps& steps) {
    UniqueKernelHandle thread(CreateThread(nullptr, 0, steps.worker, &job, 0, nullptr));
    if (!thread) {
        const DWORD error = GetLastError();
        logLine(L"CreateThread falhou (%lu)", error);
        return WorkerEnd::NotStarted;
    }
    try {
        steps.progressDialog(job);
    } catch (...) {
        // Stopped and waited for as after a cancel, so that the clean-up of the entry point
        // does not pull the file from under a running worker; one that outlives the wait is
        // noted, and the entry point then leaves the file and the folder to it.
        job.workerMayStillRun = !stopAfterDialog(job, thread.get(), steps.workerWaitMilliseconds);
        throw;
    }
    switch (dialogEnd(job.dialogDone, job.dialogCreated)) {
    case DialogEnd::NeverAppeared:
        // Nobody pressed anything: the run goes on as without a window, to its end.
        logLine(L"a janela de progresso nao apareceu: continuo sem janela");
        job.noWindow = true;
        (void)WaitForSingleObject(thread.get(), INFINITE);
        return WorkerEnd::Ended;
    case DialogEnd::SawFinalPhase:
        // The final phase was the worker's last access to the job: a slow end is still an end.
        (void)WaitForSingleObject(thread.get(), steps.workerWaitMilliseconds);
        return WorkerEnd::Ended;
    case DialogEnd::ClosedFirst:
        break;
    }
    return stopAfterDialog(job, thread.get(), steps.workerWaitMilliseconds)
               ? WorkerEnd::Cancelled
               : WorkerEnd::StillRunning;
}

// The way out that the failure dialog shows, for a run in which nobody sees that dialog.
void noteFullInstaller() {
    logLine(L"o instalador completo esta' em %s", SKYLOOM_FULL_INSTALLER_URL);
}

// The failure dialog could not be shown: the log says what it would have, as without a window.
void noteFailureDialogNotShown() {
    logLine(L"a janela de erro nao apareceu");
    noteFullInstaller();
}

// What the user can do, in the log's words; without a window also the way out.
void noteFailure(const SetupJob& job) {
    if (job.noWindow) {
        noteFullInstaller();
    }
    const FailureCause cause = failureCause(toInt(job.result), job.detail,
                                            job.secureFailureFlags.load(), job.serverFileChanged);
    if (const wchar_t* text = failureCauseLogText(cause)) {
        // Which policy or app control refused it is in the code: 1260, 4551, 4556...
        logLine(cause == FailureCause::Policy ? L"%s (%lu)" : L"%s", text, job.detail);
    }
}

// The failure dialog of a failure noted already, where the run has a window. True for a Retry.
bool retryAfterFailure(SetupJob& job, const RunLoopSteps& steps, bool allowRetry) {
    if (job.noWindow) {
        return false;
    }
    const int answer = steps.failureDialog(job, allowRetry);
    if (answer == IDRETRY) {
        logLine(L"tentar de novo");
        return true;
    }
    if (answer == kFailureDialogNotShown) {
        noteFailureDialogNotShown();
    }
    return false;
}

} // namespace

int runSetupCycle(SetupJob& job) {
    return runSetupCycleWith(job, kRunLoopSteps);
}

int runSetupCycleWith(SetupJob& job, const RunLoopSteps& steps) {
    for (;;) {
        resetForRun(job);
        if (job.noWindow) {
            (void)steps.worker(&job);
        } else {
            const WorkerEnd end = runWorkerWithDialog(job, steps);
            if (end == WorkerEnd::NotStarted) {
                cleanUpJob(job);
                return toInt(SetupResult::LocalError);
            }
            if (end == WorkerEnd::StillRunning) {
                // The worker may still be checking the file through verifiedFile: neither
                // the handle nor the file is touched under it. The process ends without
                // returning from the entry point, so the job outlives the worker.
                logWhereTheFileStays(job);
                logLine(L"cancelado por quem instala");
                return toInt(SetupResult::Cancelled);
            }
            if (end == WorkerEnd::Cancelled) {
                logLine(L"cancelado por quem instala");
                cleanUpJob(job);
                return toInt(SetupResult::Cancelled);
            }
        }

        if (job.result != SetupResult::Ok) {
            noteFailure(job);
            logLine(L"erro %d (detalhe %lu)", toInt(job.result), job.detail);
            if (retryAfterFailure(job, steps, true)) {
                continue;
            }
            cleanUpJob(job);
            return toInt(job.result);
        }
        if (job.noRun) {
            logLine(L"verificado; --sem-executar: nao corre");
            cleanUpJob(job);
            return toInt(SetupResult::Ok);
        }
        for (;;) {
            const SetupResult launched = steps.launch(job);
            // Another installation in progress: a person may let it finish and start the same
            // checked file again, still held, without a new download.
            const bool inProgress = !job.noWindow && launched == SetupResult::Ok &&
                                    job.installerExitCode == kErrorInstallAlreadyRunning;
            if (launched != SetupResult::Ok || inProgress) {
                job.result = inProgress ? SetupResult::InstallerFailed : launched;
                if (inProgress) {
                    job.detail = kErrorInstallAlreadyRunning;
                }
                noteFailure(job);
                if (retryAfterFailure(job, steps, inProgress)) {
                    continue;
                }
            }
            cleanUpJob(job);
            // A code passed on is the installer's own: 0, a restart, or another installation in
            // progress.
            return launched == SetupResult::Ok ? static_cast<int>(job.installerExitCode)
                                               : toInt(launched);
        }
    }
}
