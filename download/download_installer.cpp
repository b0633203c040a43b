#include "download/download_installer.h"

#include "job/result_codes.h"
#include "job/setup_job.h"
#include "base/handles.h"
#include "download/judge_response.h"
#include "download/retry_policy.h"
#include "download/partial_download.h"
#include "log/diagnostic_log.h"
#include "platform/system_library.h"

namespace {

void sleepFor(DWORD milliseconds) {
    Sleep(milliseconds);
}

// A Cancel ends the pause within one slice.
void pause(const SetupJob& job, const RetrySteps& steps, int slices) {
    for (int i = 0; i < slices; ++i) {
        if (job.cancelRequested.load()) {
            return;
        }
        steps.sleep(kPauseSliceMs);
    }
}

} // namespace

const RetrySteps kRetrySteps{attemptDownload, sleepFor, &kPartialDownloadIo};

SetupResult downloadInstaller(SetupJob& job) {
    // crypt32 too: WinHTTP loads it for TLS, and a DLL already in the process is not looked
    // for again in any folder.
    if (const DWORD error = loadSystemLibraries({L"winhttp.dll", L"crypt32.dll"}); error != 0) {
        job.detail = error;
        return SetupResult::LocalError;
    }
    if (!job.proxy.empty()) {
        logLine(L"pelo proxy %s, em vez das definicoes automaticas", job.proxy.c_str());
    }
    return downloadInstallerWith(job, kRetrySteps);
}

SetupResult downloadInstallerWith(SetupJob& job, const RetrySteps& steps) {
    job.phase.store(JobPhase::Connecting);
    // What an earlier run left is resumed.
    UniqueFile file;
    if (const DWORD opened =
            openPartialDownload(job.workFolderHandle.get(), job.installerPath.c_str(), file);
        opened != 0) {
        job.detail = opened;
        return SetupResult::LocalError;
    }
    if (job.startFromZero) {
        // The clean try after a failed check could not delete the file: its bytes are not
        // resumed and checked once more.
        if (const DWORD error = emptyPartialDownload(*steps.partial, job.workFolderHandle.get(),
                                                     job.installerPath.c_str(), file.get());
            error != 0) {
            job.detail = error;
            return SetupResult::LocalError;
        }
        job.startFromZero = false;
    }
    FilePosition position =
        partialDownloadPosition(job.workFolderHandle.get(), job.installerPath.c_str(), file.get());
    job.downloaded.store(position.resumeOffset);

    SetupResult code = SetupResult::NetworkError;
    for (const std::wstring& url : job.urls) {
        for (int attempt = 0; attempt < kAttemptsPerUrl; ++attempt) {
            if (attempt > 0) {
                logLine(L"nova tentativa (%d) em %s", attempt + 1, url.c_str());
                pause(job, steps, pauseSlices(attempt));
            }
            // Seen before connecting again, so a Cancel never waits on another server.
            if (job.cancelRequested.load()) {
                return SetupResult::Cancelled;
            }
            const AttemptOutcome outcome = steps.attempt(job, url, file.get(), position);
            code = outcome.code;
            position = outcome.position;
            const RetryClass retry = resultInfo(code).retryClass;
            if (retry == RetryClass::Finished) {
                return code;
            }
            if (retry != RetryClass::SameUrlAgain) {
                break;
            }
        }
    }
    return code;
}
