#include "app/startup.h"

#include "job/setup_job.h"
#include "app/launch.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "app/window_policy.h"
#include "app/work_folder.h"
#include "base/file_security.h"
#include "base/wide_format.h"
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

bool wantsRedirectionGuard(const TokenFacts& token) {
    return token.system || token.elevated;
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

namespace {

// The temporary folder as the rules need it: its final path (empty when it cannot be read), and
// whether anyone outside the ordinary trusted set may write to it. A folder that cannot be
// examined counts as open to others.
struct TempFolderFacts {
    std::wstring finalPath;
    bool openToOthers = true;
};

TempFolderFacts examineTempFolder(const std::wstring& tempFolder, PSID user) {
    TempFolderFacts facts;
    const UniqueFile folder(CreateFileW(tempFolder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr));
    if (!folder) {
        return facts;
    }
    SecurityFacts security;
    if (readFolderFacts(folder.get(), user, facts.finalPath, security) != 0) {
        facts.finalPath.clear();
        return facts;
    }
    facts.openToOthers = strangersMayWrite(security);
    return facts;
}

// Two names of one folder, with or without the trailing backslash.
bool sameFolder(const std::wstring& a, const std::wstring& b) {
    return samePath(withoutTrailingBackslash(a), withoutTrailingBackslash(b));
}

std::wstring inheritedTemp() {
    wchar_t value[kTempFolderBufferSize] = {};
    const DWORD length = GetEnvironmentVariableW(L"TEMP", value, kTempFolderBufferSize);
    return length > 0 && length < kTempFolderBufferSize ? std::wstring(value, length) : L"";
}

// Kernel32 before Windows 11 and Wine lack the policy: nothing changes then.
void guardRedirection(const TokenFacts& token) {
    if (!wantsRedirectionGuard(token)) {
        return;
    }
    constexpr auto kRedirectionTrustPolicy = static_cast<PROCESS_MITIGATION_POLICY>(16);
    struct RedirectionTrust {
        DWORD flags; // bit 0: enforce, bit 1: audit
    } policy{1};
    using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    if (const SetPolicy set = procAddress<SetPolicy>(GetModuleHandleW(L"kernel32.dll"),
                                                     "SetProcessMitigationPolicy")) {
        (void)set(kRedirectionTrustPolicy, &policy, sizeof policy);
    }
}

// Opens the log once, checked; a file refused gives way to a fresh one beside it. Returns the
// line that says so, for after the run header ("" when there is none).
std::wstring openTheLog(bool defaultPath, const TempFolderFacts& temp, PSID user) {
    const LogFileRules rules = logRulesFor(defaultPath, temp.finalPath, temp.openToOthers, user);
    const std::wstring wanted = logPath;
    LogFileVerdict verdict = LogFileVerdict::Use;
    const DWORD error = openLogWith(wanted, rules, verdict);
    const std::wstring why = logRefusalReason(error, verdict);
    // A name that cannot even be opened (a stranger's file that keeps this run out, say) gives
    // way too, when its folder takes a fresh one.
    UniqueFile fresh;
    std::wstring freshPath;
    if (why.empty() || openFreshLogFile(wanted, fresh, freshPath) != 0) {
        return {};
    }
    useLogFile(std::move(fresh), freshPath);
    return wanted + L" nao serve (" + why + L")";
}

} // namespace

std::size_t longestInstallerPath(const std::wstring& tempFolder) {
    return pathIn(tempFolder, kWorkFolderName).size() + kFreshSuffixLength +
           std::wstring_view(kInstallerFileName).size();
}

std::optional<int> prepareJob(SetupJob& job, HINSTANCE instance, const std::wstring& tempFolder,
                              const std::vector<std::wstring_view>& args) {
    CommandLineOptions options = parseOptions(args);
    // Checked before anything is made; the log says why once it is open.
    const wchar_t* refused = refusedOptionValue(options, longestInstallerPath(tempFolder));
    if (refused == nullptr) {
        job.installerArguments = std::move(options.installerArguments);
        job.proxy = options.proxy.value_or(L"");
    }
    job.urls = std::move(options.urls);
    job.noRun = options.noRun;
    job.tempFolder = tempFolder;
    job.localInstaller = std::move(options.localInstaller);
    if (job.urls.empty()) {
        job.urls.assign(kBuiltInUrls.begin(), kBuiltInUrls.end());
    }
    job.catalog = &selectCatalog(options.languageRequest);

    // A token that cannot be read leaves the ordinary facts: not SYSTEM, not elevated.
    (void)readTokenFacts(job.token);
    guardRedirection(job.token);
    const WindowFacts windowFacts = readWindowFacts(job.token, options.noWindow);
    const WindowDecision window = decideWindow(windowFacts);
    job.noWindow = window.noWindow != NoWindowReason::None;
    job.addressAsText = window.addressAsText;

    const TempFolderFacts temp = examineTempFolder(tempFolder, job.token.user());
    if (options.logPath) {
        logPath = *options.logPath;
    }
    const std::wstring logRefused = openTheLog(!options.logPath, temp, job.token.user());

    const bool local = !job.localInstaller.empty();
    logLine(L"=== Skyloom-Setup %s (lingua %s%s%s%s%s%s%s) ===", kSetupVersion,
            job.catalog->languageCode, job.noWindow ? L", sem janela" : L"",
            job.noRun ? L", sem executar" : L"", local ? L", instalador " : L"",
            job.localInstaller.c_str(), job.proxy.empty() ? L"" : L", proxy ", job.proxy.c_str());
    if (!logRefused.empty()) {
        logLine(L"o registo fica em %s: %s", logPath.c_str(), logRefused.c_str());
    }
    if (const wchar_t* line = noWindowLine(window.noWindow)) {
        logLine(L"%s", line);
    }

    if (refused != nullptr) {
        logLine(L"%s", refused);
        return toInt(SetupResult::OptionRefused);
    }
    if (anotherRunHolds(windowFacts.sessionZero, job.token.user())) {
        return toInt(SetupResult::AlreadyRunning);
    }

    std::wstring workFolder;
    if (prepareWorkFolder(tempFolder, trustedUserFor(job.token, true), workFolder,
                          job.freshWorkFolder) != 0) {
        return toInt(SetupResult::LocalError);
    }
    // Recorded only once it is the program's own: the clean-up after a failure goes by this
    // field, and removes no other folder.
    job.workFolder = std::move(workFolder);
    job.installerPath = job.workFolder + kInstallerFileName;
    job.installerTemp = chooseInstallerTemp(
        job.token.system, sameFolder(tempFolder, inheritedTemp()), temp.openToOthers);
    // Only a run with a window shows them.
    if (!job.noWindow) {
        loadDialogIcons(job, instance);
    }
    return std::nullopt;
}
