#include "app/cleanup.h"

#include "app/work_folder.h"
#include "download/partial_download.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"

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

void cleanUpJob(SetupJob& job) {
    // A person's answer to the proxy lives no longer than the run.
    wipeProxyCredentials(job.proxySignIn.sealed);
    job.proxySignIn.kept = false;
    // A file still held after the waits has its own line; the folder then stays too.
    (void)discardInstallerFile(job);
    // The installer's kept temporary folder stays for what the installer started; a fresh one,
    // which no later run finds, goes if it is empty.
    if (job.freshInstallerTemp) {
        (void)removeOwnFolder(job.tempFolderHandle.get(), job.installerTempFolder,
                              job.installerTempHandle);
    }
    job.installerTempHandle.reset();
    if (!job.workFolder.empty()) {
        // The exit code is not touched. The fixed folder is used again by the next run.
        (void)removeOwnFolder(job.tempFolderHandle.get(), job.workFolder, job.workFolderHandle);
    }
}
