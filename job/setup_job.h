#pragma once
// The one record of a run, shared by the main thread and the worker thread.

#include "job/proxy_credentials.h"
#include "job/setup_result.h"
#include "base/file_security.h"
#include "base/handles.h"

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct MessageCatalog;

// The installer's name in the working folder.
inline constexpr const wchar_t* kInstallerFileName = L"Skyloom-win-Setup.exe";

// Which temporary folder the installer is given (TMP and TEMP).
enum class InstallerTemp {
    Inherited,     // this process's own environment, untouched
    MachineTemp,   // the program's own, judged and not open to others (SYSTEM's SystemTemp),
                   // where TMP or TEMP as inherited name another
    PrivateFolder, // one kept beside the working folder (app/installer_temp.h): the
                   // temporary folder is open to others
};

struct SetupJob {
    const MessageCatalog* catalog = nullptr;
    std::vector<std::wstring> urls;
    // No window is shown: by policy, by --sem-janela, or since the progress dialog could not be.
    bool noWindow = false;
    // The installer gets the build's quiet arguments: set by the window policy and --sem-janela
    // alone. A person whose dialog could not be shown gets no silent install, nor a restart.
    bool quietInstaller = false;
    bool noRun = false;
    // The process's token, read once at start-up, and whom every file, folder and mutex of the
    // run trusts.
    TokenFacts token;
    TrustedSet trusted;
    // Elevated: the failure dialog gives the full installer's address as text, not as a link.
    bool addressAsText = false;
    std::wstring tempFolder; // the program's, ending in a backslash
    // The folder of a --log path that SYSTEM or an elevated run writes, held for the process.
    UniqueFile logFolderHandle;
    // Held from its examination: the default log and the working folder are opened inside it by
    // name, and the working folder is removed through it.
    UniqueFile tempFolderHandle;
    InstallerTemp installerTemp = InstallerTemp::Inherited;
    // The installer's private temporary folder, once it is made or checked, held as the working
    // folder is; a fresh one (the fixed name was not the program's own) goes at the clean-up.
    std::wstring installerTempFolder;
    UniqueFile installerTempHandle;
    bool freshInstallerTemp = false;
    std::wstring workFolder;
    // Held from its creation or check to the clean-up, sharing read and write but not delete:
    // while it is held nobody can rename it away and put another folder in its place. Every file
    // of the run is opened inside it by name.
    UniqueFile workFolderHandle;
    // A fresh folder with a random name, made because the fixed one failed: no later run finds
    // what stays in it.
    bool freshWorkFolder = false;
    std::wstring installerPath;
    // --instalador: a full installer at hand, copied to installerPath instead of downloaded.
    std::wstring localInstaller;
    // --argumentos: the installer's arguments in place of the build's quiet ones.
    std::optional<std::wstring> installerArguments;
    // --proxy: host:port for every request, in place of the automatic settings; empty for those.
    std::wstring proxy;
    // Read handle on the checked installer, read sharing only: while it is open nobody can
    // write, replace or delete the file.
    HANDLE verifiedFile = INVALID_HANDLE_VALUE;

    std::atomic<JobPhase> phase{JobPhase::Connecting};
    std::atomic<std::int64_t> downloaded{0};
    std::atomic<std::int64_t> total{0};

    std::atomic<bool> cancelRequested{false};
    // Whoever takes a non-null handle out of this slot by exchange closes it.
    std::atomic<HINTERNET> activeRequest{nullptr};
    // A proxy's 407: the person's prompt and the answer kept for the run.
    ProxySignIn proxySignIn;

    // The progress dialog of this run appeared (TDN_CREATED): one that never did is no Cancel.
    bool dialogCreated = false;
    bool resumedDownload = false;
    // The next download empties the file before its first request: the one clean try after a
    // failed check could not delete it. Cleared once the file is emptied.
    bool startFromZero = false;
    // The last attempt ended by emptying the file because the server's answers did not fit
    // together: its file changed.
    bool serverFileChanged = false;
    bool dialogDone = false;
    // Main thread only: a worker that outlived its wait may still use verifiedFile, the file
    // and the folder, so nothing cleans them up under it.
    bool workerMayStillRun = false;

    SetupResult result = SetupResult::Ok;
    // The installer's own exit code when it is passed on (0, the two restart codes, or 1618,
    // another installation in progress): the process ends with it.
    std::uint32_t installerExitCode = 0;
    std::uint32_t detail = 0;
    // The flags of the last send that failed its TLS checks on Windows (12175): written by
    // WinHTTP's status callback, through the send's context, on whichever thread it runs.
    std::atomic<std::uint32_t> secureFailureFlags{0};
    std::int32_t retryMinutes = 0;
    std::int64_t neededMegabytes = 0;

    HICON largeIcon = nullptr;
    HICON smallIcon = nullptr;
};

// Before every run of the worker: the cancel channel, the dialog's flag, the outcome, the
// phase and the prompt (closed without a window). The file on disk, the byte counts and the
// explaining values of the last failure carry over, so that a Retry resumes.
void resetForRun(SetupJob& job);
