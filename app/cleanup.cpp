#include "app/cleanup.h"

#include "app/work_folder.h"
#include "base/open_in_folder.h"
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
    return job.installerPath.empty()
               ? DWORD{0}
               : discardPartialDownload(job.workFolderHandle.get(), job.installerPath.c_str());
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
// there (its logs) is kept, and the working folder with it. True when the folder is gone or
// there is none.
bool removeInstallerTempFolder(SetupJob& job) {
    if (!job.installerTempHandle) {
        return true;
    }
    FileIdentity identity;
    DWORD error = identityOf(job.installerTempHandle.get(), identity);
    job.installerTempHandle.reset();
    if (error == 0) {
        error =
            deleteFolderIn(job.workFolderHandle.get(), leafOf(job.installerTempFolder), identity);
    }
    if (error == 0 || isGone(error)) {
        return true;
    }
    logLine(L"a pasta fica: %s: o instalador deixou ficheiros em %s (%lu)", job.workFolder.c_str(),
            job.installerTempFolder.c_str(), error);
    return false;
}

} // namespace

void cleanUpJob(SetupJob& job) {
    // A person's answer to the proxy lives no longer than the run.
    wipeProxyCredentials(job.proxySignIn.sealed);
    job.proxySignIn.kept = false;
    // A file still held after the waits has its own line; the folder then stays too.
    (void)discardInstallerFile(job);
    if (!job.workFolder.empty() && removeInstallerTempFolder(job)) {
        // The exit code is not touched. The fixed folder is used again by the next run.
        (void)removeOwnFolder(job.tempFolderHandle.get(), job.workFolder, job.workFolderHandle);
    }
}
