#include "app/guarded_entry.h"

#include "app/cleanup.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"

int runGuarded(SetupJob& job, EntryBody body, void* context) noexcept {
    try {
        return body(job, context);
    } catch (...) {
        // Only the standard library's allocations throw in this program; the guards on the
        // way out have closed what the failed step held. Logging needs no heap.
        logLine(L"sem memoria para continuar (%lu)", static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        if (job.workerMayStillRun) {
            // The process ends without returning, so the job outlives the worker.
            logWhereTheFileStays(job);
        } else if (!job.workFolder.empty()) {
            cleanUpJob(job);
        }
        return toInt(SetupResult::LocalError);
    }
}
