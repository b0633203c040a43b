#include "app/guarded_entry.h"

#include "app/cleanup.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"

#include <exception>

#ifdef _MSC_VER
#include <intrin.h>
#endif

void endCrashed() noexcept {
#ifdef _MSC_VER
    __fastfail(FAST_FAIL_FATAL_APP_EXIT);
#else
    // __fastfail as the platform defines it; mingw-w64 has no intrinsic for it.
    __asm__ volatile("int $0x29" ::"c"(FAST_FAIL_FATAL_APP_EXIT) : "memory");
    __builtin_unreachable();
#endif
}

int runGuarded(SetupJob& job, EntryBody body, void* context) noexcept {
    // Every runtime's own handler aborts, and abort() ends with 3, a code of the table.
    std::set_terminate(endCrashed);
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
