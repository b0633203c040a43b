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

// Validators kept without a strong one cannot tell this release's bytes from another's, so
// the bytes go before any Range is asked for. False with job.detail set when emptying fails.
[[nodiscard]] bool startOverUnlessProvable(SetupJob& job, const RetrySteps& steps, HANDLE file,
                                           FilePosition& position) {
    if (position.resumeOffset == 0 || resumeProof(position.validators) != ResumeProof::Unprovable) {
        return true;
    }
    logLine(L"validadores sem prova forte: recomeca do zero");
    if (const DWORD error = emptyPartialDownload(*steps.partial, job.installerPath.c_str(), file);
        error != 0) {
        job.detail = error;
        return false;
    }
    position = {0, position.knownTotal, {}};
    job.downloaded.store(0);
    return true;
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
    if (const DWORD opened = openPartialDownload(job.installerPath.c_str(), file); opened != 0) {
        job.detail = opened;
        return SetupResult::LocalError;
    }
    FilePosition position = partialDownloadPosition(job.installerPath.c_str(), file.get());
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
            if (!startOverUnlessProvable(job, steps, file.get(), position)) {
                return SetupResult::LocalError;
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
