#include "app/job/cancel.h"

#include "app/job/setup_job.h"

HINTERNET cancelWorker(SetupJob& job) {
    job.cancelRequested.exchange(true);
    HINTERNET request = job.activeRequest.exchange(nullptr);
    if (request != nullptr) {
        WinHttpCloseHandle(request);
    }
    return request;
}
