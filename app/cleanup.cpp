#include "app/cleanup.h"

void closeVerifiedFile(SetupJob& job) {
    if (job.verifiedFile != INVALID_HANDLE_VALUE) {
        CloseHandle(job.verifiedFile);
        job.verifiedFile = INVALID_HANDLE_VALUE;
    }
}

void cleanUpJob(SetupJob& job) {
    closeVerifiedFile(job);
    if (!job.installerPath.empty()) {
        (void)DeleteFileW(job.installerPath.c_str());
    }
    if (!job.workFolder.empty()) {
        (void)RemoveDirectoryW(job.workFolder.c_str());
    }
}
