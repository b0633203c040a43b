#include "app/launch.h"

#include "app/job/setup_job.h"
#include "base/handles.h"
#include "log/diagnostic_log.h"

std::wstring installerCommandLine(const std::wstring& installerPath) {
    return L"\"" + installerPath + L"\"";
}

SetupResult launchInstaller(SetupJob& job) {
    // CreateProcessW may write into the command line it is given.
    std::wstring commandLine = installerCommandLine(job.installerPath);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(job.installerPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, job.workFolder.c_str(), &startup, &process)) {
        job.detail = GetLastError();
        logLine(L"CreateProcess falhou (%lu)", job.detail);
        return SetupResult::LaunchFailed;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    // Only the process is waited for.
    CloseHandle(process.hThread);
    logLine(L"o instalador arrancou (pid %lu)", process.dwProcessId);
    (void)WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 0;
    (void)GetExitCodeProcess(processHandle.get(), &exitCode);
    processHandle.reset();
    logLine(L"o instalador acabou com %lu", exitCode);
    if (exitCode == 0) {
        return SetupResult::Ok;
    }
    job.detail = exitCode;
    return SetupResult::InstallerFailed;
}
