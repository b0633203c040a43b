#include "app/launch.h"

#include "app/installer_temp.h"
#include "base/file_security.h"
#include "base/handles.h"
#include "build_config.h"
#include "job/failure_cause.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"

namespace {

constexpr std::uint32_t kRestartNeeded = 3010;    // ERROR_SUCCESS_REBOOT_REQUIRED
constexpr std::uint32_t kRestartInitiated = 1641; // ERROR_SUCCESS_REBOOT_INITIATED
static_assert(kRestartNeeded == ERROR_SUCCESS_REBOOT_REQUIRED &&
              kRestartInitiated == ERROR_SUCCESS_REBOOT_INITIATED &&
              kErrorInstallAlreadyRunning == ERROR_INSTALL_ALREADY_RUNNING);

// TMP and TEMP for the installer, set just before it starts: the worker has finished by then,
// and nothing else of this process reads them. Written without the trailing backslash, as
// Windows writes them. 0, or the error of the private folder that could not be made.
[[nodiscard]] DWORD giveInstallerItsTemp(SetupJob& job) {
    std::wstring folder;
    switch (job.installerTemp) {
    case InstallerTemp::Inherited:
        return 0;
    case InstallerTemp::MachineTemp:
        folder = job.tempFolder;
        break;
    case InstallerTemp::PrivateFolder:
        if (const DWORD error = holdInstallerTemp(job); error != 0) {
            return error;
        }
        folder = job.installerTempFolder;
        break;
    }
    folder = withoutTrailingBackslash(std::move(folder));
    (void)SetEnvironmentVariableW(L"TMP", folder.c_str());
    (void)SetEnvironmentVariableW(L"TEMP", folder.c_str());
    logLine(L"TEMP do instalador: %s", folder.c_str());
    return 0;
}

} // namespace

std::wstring installerCommandLine(const std::wstring& installerPath, std::wstring_view quietArgs) {
    std::wstring line = L"\"" + installerPath + L"\"";
    if (!quietArgs.empty()) {
        line += L' ';
        line += quietArgs;
    }
    return line;
}

bool installerCodePassedOn(std::uint32_t exitCode) {
    return exitCode == 0 || exitCode == kRestartNeeded || exitCode == kRestartInitiated ||
           exitCode == kErrorInstallAlreadyRunning;
}

InstallerTemp chooseInstallerTemp(bool machineWide, bool programTempIsInherited,
                                  bool programTempOpenToOthers) {
    if (programTempOpenToOthers) {
        return InstallerTemp::PrivateFolder;
    }
    return machineWide && !programTempIsInherited ? InstallerTemp::MachineTemp
                                                  : InstallerTemp::Inherited;
}

SetupResult launchInstaller(SetupJob& job) {
    if (const DWORD error = giveInstallerItsTemp(job); error != 0) {
        job.detail = error;
        return SetupResult::LaunchFailed;
    }
    // No window by policy or option: the installer is quiet too, when the build says how.
    // --argumentos replace the quiet arguments, with or without a window.
    const std::wstring_view quiet = job.quietInstaller ? SKYLOOM_INSTALLER_QUIET_ARGS : L"";
    const std::wstring commandLine = installerCommandLine(
        job.installerPath, job.installerArguments.value_or(std::wstring(quiet)));
    logLine(L"a arrancar: %s", commandLine.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // A scanner may still be reading the new file: waited for as the file operations wait.
    const DWORD error = retryWhileHeld(HeldThing::File, job.installerPath.c_str(), [&] {
        // CreateProcessW may write into the command line it is given: each try gets its own.
        std::wstring line = commandLine;
        return CreateProcessW(job.installerPath.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, job.workFolder.c_str(), &startup, &process)
                   ? DWORD{0}
                   : GetLastError();
    });
    if (error != 0) {
        job.detail = error;
        logLine(L"CreateProcess falhou (%lu)", error);
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
    if (!installerCodePassedOn(exitCode)) {
        job.detail = exitCode;
        return SetupResult::InstallerFailed;
    }
    if (exitCode == kRestartNeeded) {
        logLine(L"instalado; e' preciso reiniciar o computador");
    } else if (exitCode == kRestartInitiated) {
        logLine(L"instalado; o instalador ja' mandou reiniciar o computador");
    } else if (exitCode == kErrorInstallAlreadyRunning) {
        logLine(L"outra instalacao esta' a decorrer: tentar mais tarde (1618)");
    }
    job.installerExitCode = exitCode;
    return SetupResult::Ok;
}
