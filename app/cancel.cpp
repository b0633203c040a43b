#include "app/cancel.h"

void cancelWorker(SetupJob& job) {
    job.cancelRequested.exchange(true);
    if (HINTERNET request = job.activeRequest.exchange(nullptr)) {
        WinHttpCloseHandle(request);
    }
}
