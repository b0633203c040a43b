#include "app/cleanup.h"

#include "download/partial_download.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

void closeVerifiedFile(SetupJob& job) {
    if (job.verifiedFile != INVALID_HANDLE_VALUE) {
        CloseHandle(job.verifiedFile);
        job.verifiedFile = INVALID_HANDLE_VALUE;
    }
}

DWORD discardInstallerFile(SetupJob& job) {
    closeVerifiedFile(job);
    return job.installerPath.empty() ? DWORD{0} : discardPartialDownload(job.installerPath.c_str());
}

void logWhereTheFileStays(const SetupJob& job) {
    if (job.freshWorkFolder) {
        // No later run looks in a folder with a random name.
        logLine(L"o trabalho nao acabou: o ficheiro fica em %s", job.workFolder.c_str());
    } else {
        logLine(L"o trabalho nao acabou: o ficheiro fica para a proxima vez");
    }
}

namespace {

// The installer's private temporary folder goes only when it is empty: what the installer left
// there (its logs) is kept, and the working folder with it. Never followed if it were a link:
// RemoveDirectoryW removes a link itself. True when the folder is gone or there is none.
bool removeInstallerTempFolder(const SetupJob& job) {
    if (job.installerTempFolder.empty() || RemoveDirectoryW(job.installerTempFolder.c_str())) {
        return true;
    }
    const DWORD error = GetLastError();
    if (isGone(error)) {
        return true;
    }
    logLine(L"a pasta fica: %s: o instalador deixou ficheiros em %s (%lu)", job.workFolder.c_str(),
            job.installerTempFolder.c_str(), error);
    return false;
}

} // namespace

void cleanUpJob(SetupJob& job) {
    // A file still held after the waits has its own line; the folder then stays too.
    (void)discardInstallerFile(job);
    if (!job.workFolder.empty() && removeInstallerTempFolder(job)) {
        const wchar_t* folder = job.workFolder.c_str();
        const DWORD error = retryWhileHeld(HeldThing::Folder, folder, [folder] {
            return RemoveDirectoryW(folder) ? DWORD{0} : GetLastError();
        });
        // The exit code is not touched. The fixed folder is used again by the next run.
        if (failureNeedsItsOwnLine(error)) {
            logLine(L"a pasta fica: %s (%lu)", folder, error);
        }
    }
}
