#include "app/startup.h"

#include "app/job/setup_job.h"
#include "app/options.h"
#include "app/work_folder.h"
#include "build_config.h"
#include "log/diagnostic_log.h"
#include "platform/system_library.h"
#include "ui/message_catalog.h"

const std::array<const wchar_t*, 2> kBuiltInUrls = {
    L"https://" SKYLOOM_WEB_HOST L"/download/app",
    L"https://" SKYLOOM_UPDATE_HOST L"/updates/Skyloom-win-Setup.exe",
};

void hardenProcess() {
    // Libraries come from System32 only, never from the folder the download landed in.
    (void)SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    (void)SetDllDirectoryW(L"");
    (void)HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
}

std::wstring chooseTempFolder(DWORD returned, const wchar_t* buffer) {
    if (returned == 0 || returned >= kTempFolderBufferSize) {
        return kTempFolderFallback;
    }
    return std::wstring(buffer, returned);
}

std::wstring findTempFolder() {
    using GetTempPath2Function = DWORD(WINAPI*)(DWORD, LPWSTR);
    const GetTempPath2Function getTempPath2 =
        procAddress<GetTempPath2Function>(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W");
    wchar_t buffer[kTempFolderBufferSize] = {};
    const DWORD returned = getTempPath2 != nullptr ? getTempPath2(kTempFolderBufferSize, buffer)
                                                   : GetTempPathW(kTempFolderBufferSize, buffer);
    return chooseTempFolder(returned, buffer);
}

void loadDialogIcons(SetupJob& job, HINSTANCE instance) {
    // Looked up, not imported: Common Controls 5 has no such function, and a delay-load thunk
    // would end the process. A failed load leaves the handle null; the dialog then shows no icon.
    using LoadIconFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    DWORD error = ERROR_SUCCESS;
    const HMODULE commonControls = loadSystemLibrary(L"comctl32.dll", error);
    const LoadIconFunction loadIcon =
        commonControls != nullptr
            ? procAddress<LoadIconFunction>(commonControls, "LoadIconWithScaleDown")
            : nullptr;
    if (loadIcon == nullptr) {
        return;
    }
    (void)loadIcon(instance, MAKEINTRESOURCEW(1), GetSystemMetrics(SM_CXICON),
                   GetSystemMetrics(SM_CYICON), &job.largeIcon);
    (void)loadIcon(instance, MAKEINTRESOURCEW(1), GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), &job.smallIcon);
}

std::optional<int> prepareJob(SetupJob& job, HINSTANCE instance, const std::wstring& tempFolder,
                              const std::vector<std::wstring_view>& args) {
    CommandLineOptions options = parseOptions(args);
    job.urls = std::move(options.urls);
    job.noWindow = options.noWindow;
    job.noRun = options.noRun;
    if (options.logPath) {
        logPath = *options.logPath;
    }
    if (job.urls.empty()) {
        job.urls.assign(kBuiltInUrls.begin(), kBuiltInUrls.end());
    }
    job.catalog = &selectCatalog(options.languageRequest);

    logLine(L"=== Skyloom-Setup %s (lingua %s%s%s) ===", kSetupVersion, job.catalog->languageCode,
            job.noWindow ? L", sem janela" : L"", job.noRun ? L", sem executar" : L"");

    // Held, never closed, until the process ends; a null handle means no protection.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, kSingleInstanceMutexName);
    const DWORD mutexError = GetLastError();
    if (mutex != nullptr && mutexError == ERROR_ALREADY_EXISTS) {
        logLine(L"ja' ha' um a correr");
        return toInt(SetupResult::AlreadyRunning);
    }

    std::wstring workFolder;
    if (prepareWorkFolder(tempFolder, workFolder, job.freshWorkFolder) != 0) {
        return toInt(SetupResult::LocalError);
    }
    // Recorded only once it is the program's own: the clean-up after a failure goes by this
    // field, and removes no other folder.
    job.workFolder = std::move(workFolder);
    job.installerPath = job.workFolder + kInstallerFileName;
    // Only a run with a window shows them.
    if (!job.noWindow) {
        loadDialogIcons(job, instance);
    }
    return std::nullopt;
}
