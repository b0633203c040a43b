#include "app/cleanup.h"

#include "job/setup_job.h"
#include "download/validator_file.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

void closeVerifiedFile(SetupJob& job) {
    if (job.verifiedFile != INVALID_HANDLE_VALUE) {
        CloseHandle(job.verifiedFile);
        job.verifiedFile = INVALID_HANDLE_VALUE;
    }
}

bool failureLeftUnreported(DWORD error) {
    // A folder not empty yet is a hold too (a file in it whose deletion waits for its last
    // handle); no file deletion gives that error.
    return error != 0 && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
           !isBriefHold(HeldThing::Folder, error);
}

DWORD discardInstallerFile(SetupJob& job) {
    closeVerifiedFile(job);
    if (job.installerPath.empty()) {
        return 0;
    }
    const wchar_t* path = job.installerPath.c_str();
    const DWORD error =
        retryWhileHeld(HeldThing::File, path, [path] { return deletePlainFile(path); });
    if (failureLeftUnreported(error)) {
        logLine(L"nao consegui apagar %s (%lu)", path, error);
    }
    return error;
}

void noteWorkLeftToWorker(const SetupJob& job) {
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
// RemoveDirectoryW removes a link itself.
bool installerLeftFiles(const SetupJob& job) {
    if (job.installerTempFolder.empty() || RemoveDirectoryW(job.installerTempFolder.c_str())) {
        return false;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return false;
    }
    logLine(L"a pasta fica: %s: o instalador deixou ficheiros em %s (%lu)", job.workFolder.c_str(),
            job.installerTempFolder.c_str(), error);
    return true;
}

} // namespace

void cleanUpJob(SetupJob& job) {
    // A file still held after the waits has its own line; the folder then stays too.
    (void)discardInstallerFile(job);
    if (!job.installerPath.empty()) {
        (void)dropValidators(job.installerPath.c_str());
    }
    if (!job.workFolder.empty() && !installerLeftFiles(job)) {
        const wchar_t* folder = job.workFolder.c_str();
        const DWORD error = retryWhileHeld(HeldThing::Folder, folder, [folder] {
            return RemoveDirectoryW(folder) ? DWORD{0} : GetLastError();
        });
        // The exit code is not touched. The fixed folder is used again by the next run.
        if (failureLeftUnreported(error)) {
            logLine(L"a pasta fica: %s (%lu)", folder, error);
        }
    }
}
