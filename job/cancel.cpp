#include "job/cancel.h"

#include "job/setup_job.h"

HINTERNET cancelWorker(SetupJob& job) {
    job.cancelRequested.exchange(true);
    HINTERNET request = job.activeRequest.exchange(nullptr);
    if (request != nullptr) {
        WinHttpCloseHandle(request);
    }
    return request;
}
