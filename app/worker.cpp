#include "app/worker.h"

#include "app/cleanup.h"
#include "job/result_codes.h"
#include "job/setup_job.h"
#include "app/local_installer.h"
#include "download/download_installer.h"
#include "log/diagnostic_log.h"
#include "trust/verify_installer.h"

const WorkerSteps kWorkerSteps{obtainInstaller, verifyInstaller};

namespace {

SetupResult downloadAndVerify(SetupJob& job, const WorkerSteps& steps) {
    SetupResult r = steps.download(job);
    if (r == SetupResult::Ok) {
        r = steps.verify(job);
    }
    return r;
}

SetupResult workerOutcome(SetupJob& job, const WorkerSteps& steps) {
    job.resumedDownload = false;
    SetupResult r = downloadAndVerify(job, steps);
    // A resumed file may hold a stale head from another build: one clean try from zero.
    // A Cancel seen here must not start a download of its own.
    if (resultInfo(r).failsTrustCheck && job.resumedDownload && !job.cancelRequested.load()) {
        logLine(L"a verificacao falhou depois de uma retoma: recomeca do zero, uma vez");
        job.startFromZero = discardInstallerFile(job) != 0;
        job.downloaded.store(0);
        job.total.store(0);
        job.resumedDownload = false;
        r = downloadAndVerify(job, steps);
    }
    if (resultInfo(r).failsTrustCheck) {
        (void)discardInstallerFile(job);
    }
    return r;
}

} // namespace

void runWorkerSequence(SetupJob& job, const WorkerSteps& steps) {
    SetupResult r = SetupResult::Ok;
    try {
        r = workerOutcome(job, steps);
    } catch (...) {
        // Only the standard library's allocations can throw here (the transfer buffer, a
        // string); the guards have closed what the failed step held.
        job.detail = ERROR_NOT_ENOUGH_MEMORY;
        logLine(L"sem memoria para continuar (%lu)", job.detail);
        r = SetupResult::LocalError;
    }
    if (r != SetupResult::Ok) {
        closeVerifiedFile(job);
    }
    job.result = r;
    job.phase.store(r == SetupResult::Ok ? JobPhase::Succeeded : JobPhase::Failed);
}

DWORD WINAPI runWorker(LPVOID job) {
    runWorkerSequence(*static_cast<SetupJob*>(job), kWorkerSteps);
    return 0;
}
