#include "app/startup.h"

#include "app/launch.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "app/stale_folders.h"
#include "app/window_policy.h"
#include "app/work_folder.h"
#include "base/file_security.h"
#include "build_config.h"
#include "job/setup_job.h"
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

bool wantsRedirectionGuard(const TokenFacts& token) {
    return token.system || token.elevated;
}

TempSource tempSourceFor(const TokenFacts& token, bool hasTempPath2) {
    if (token.system) {
        return hasTempPath2 ? TempSource::TempPath : TempSource::WindowsTemp;
    }
    return token.elevated ? TempSource::WindowsTemp : TempSource::TempPath;
}

std::wstring chooseTempFolder(DWORD returned, const wchar_t* buffer) {
    if (returned == 0 || returned >= kTempFolderBufferSize) {
        return kTempFolderFallback;
    }
    return std::wstring(buffer, returned);
}

std::wstring findTempFolder(const TokenFacts& token) {
    wchar_t buffer[kTempFolderBufferSize] = {};
    using GetTempPath2Function = DWORD(WINAPI*)(DWORD, LPWSTR);
    const GetTempPath2Function getTempPath2 =
        procAddress<GetTempPath2Function>(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W");
    if (tempSourceFor(token, getTempPath2 != nullptr) == TempSource::WindowsTemp) {
        constexpr DWORD kRoom = kTempFolderBufferSize - 6; // for "\Temp\"
        const DWORD length = GetSystemWindowsDirectoryW(buffer, kRoom);
        if (length == 0 || length >= kRoom) {
            return kTempFolderFallback;
        }
        return pathIn(std::wstring(buffer, length), L"Temp\\");
    }
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

namespace {

// The temporary folder as the rules need it: its final path (empty when it cannot be read),
// whether any other account may write to it, whether it could be listed, and whether its volume
// keeps owners and DACLs.
struct TempFolderFacts {
    DWORD openError = 0;
    std::wstring finalPath;
    bool openToOthers = true;
    bool listable = true;
    bool aclsKept = true;
};

// Opened once and held in the job: what is examined here is the folder the log and the working
// folder are then opened in, by name. Shared for deletion too: it is not this program's to keep.
// Where listing it is refused (C:\Windows\Temp grants Users only traverse and add: an elevated
// token without the Administrators, or a user whose profile is not loaded, may have no more), it
// is held with what an open of a name inside it needs; what cannot be read of it counts as open
// to others.
TempFolderFacts examineTempFolder(SetupJob& job) {
    TempFolderFacts facts;
    for (const DWORD access : {kHeldFolderAccess, DWORD{FILE_TRAVERSE | SYNCHRONIZE}}) {
        job.tempFolderHandle.reset(CreateFileW(
            job.tempFolder.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        facts.openError = job.tempFolderHandle ? DWORD{0} : GetLastError();
        facts.listable = access == kHeldFolderAccess;
        if (facts.openError != ERROR_ACCESS_DENIED) {
            break;
        }
    }
    if (facts.openError != 0) {
        return facts;
    }
    facts.aclsKept = volumeKeepsAcls(job.tempFolderHandle.get());
    SecurityFacts security;
    // Open to accounts other than the run's own: the folder the working folder and the log stand
    // in, not what they must be.
    if (readFolderFacts(job.tempFolderHandle.get(), {job.token.user()}, facts.finalPath,
                        security) != 0) {
        facts.finalPath.clear();
        return facts;
    }
    facts.openToOthers = security.strangersMayWrite;
    return facts;
}

// Whether TMP and TEMP, as this process inherited them, both name the program's temporary
// folder: the installer inherits both, and would take whichever it reads.
bool inheritsProgramTemp(const std::wstring& tempFolder) {
    for (const wchar_t* name : {L"TMP", L"TEMP"}) {
        wchar_t value[kTempFolderBufferSize] = {};
        const DWORD length = GetEnvironmentVariableW(name, value, kTempFolderBufferSize);
        if (length == 0 || length >= kTempFolderBufferSize ||
            !samePath(std::wstring_view(value, length), tempFolder)) {
            return false;
        }
    }
    return true;
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

// Opens `place` as the log; a file refused gives way to a fresh one beside it, where
// `freshBeside`: a refused log with no replacement leaves no log, and no path for the failure
// dialog to name. Fills `refusal` when the place is not used.
void openLogOrFresh(const LogPlace& place, const LogFileRules& rules, bool freshBeside,
                    LogRefusal& refusal) {
    LogFileVerdict verdict = LogFileVerdict::Use;
    // A name that cannot even be opened (a stranger's file that keeps this run out, say) gives
    // way too.
    logRefusalReason(openLogWith(place, rules, verdict), verdict, refusal.why);
    if (refusal.why[0] == L'\0') {
        return;
    }
    refusal.path = place.path;
    UniqueFile fresh;
    std::wstring freshPath;
    if (freshBeside && openFreshLogFile(place, rules, fresh, freshPath) != 0) {
        freshPath.clear();
    }
    if (freshBeside) {
        useLogFile(std::move(fresh), freshPath);
    }
}

// Opens the log once, checked, and says in `refusals` which logs asked for are not used.
void openTheLog(SetupJob& job, const std::optional<std::wstring>& given,
                const TempFolderFacts& temp, LogRefusal (&refusals)[2]) {
    const bool privileged = job.token.system || job.token.elevated;
    const LogPlace byDefault{job.tempFolderHandle.get(), pathIn(job.tempFolder, kLogFileName)};
    LogFileRules defaultRules =
        defaultLogRules(temp.finalPath, temp.openToOthers, temp.aclsKept, job.trusted);
    // The installer's command line, with what a deployment puts in --argumentos, is for the
    // trusted set's eyes only.
    defaultRules.protectNewFile = privileged;
    if (!given) {
        openLogOrFresh(byDefault, defaultRules, true, refusals[0]);
        return;
    }
    if (!privileged) {
        openLogOrFresh({INVALID_HANDLE_VALUE, *given}, {}, true, refusals[0]);
        return;
    }
    // SYSTEM's or an elevated run's: only in a folder that is no link and lies where its path
    // says, held from here on. Any other gives way to the default log, never to a fresh file
    // beside a path refused.
    FolderPlace place = FolderPlace::Where;
    bool localVolume = true;
    logFolderRefusal(holdLogFolder(*given, job.logFolderHandle, place, localVolume), place,
                     refusals[0].why);
    if (refusals[0].why[0] == L'\0') {
        openLogOrFresh({job.logFolderHandle.get(), *given},
                       privilegedLogRules(localVolume, job.trusted), false, refusals[0]);
    }
    if (refusals[0].why[0] != L'\0') {
        refusals[0].path = *given;
        openLogOrFresh(byDefault, defaultRules, true, refusals[1]);
    }
}

} // namespace

std::size_t longestInstallerPath(const std::wstring& tempFolder) {
    // The installer's path as the run makes it, in a fresh working folder: the fixed name and a
    // suffix.
    return pathIn(pathIn(tempFolder, kWorkFolderName), kInstallerFileName).size() +
           kFreshSuffixLength;
}

std::optional<int> prepareJob(SetupJob& job, HINSTANCE instance,
                              const std::vector<std::wstring_view>& args) {
    CommandLineOptions options = parseOptions(args);
    job.urls = std::move(options.urls);
    job.noRun = options.noRun;
    job.localInstaller = std::move(options.localInstaller);
    if (job.urls.empty()) {
        job.urls.assign(kBuiltInUrls.begin(), kBuiltInUrls.end());
    }
    job.catalog = &selectCatalog(options.languageRequest);

    // A token that cannot be read leaves the ordinary facts: not SYSTEM, not elevated.
    (void)readTokenFacts(job.token);
    job.trusted = trustedSetFor(job.token);
    guardRedirection(job.token);
    const WindowFacts windowFacts = readWindowFacts(job.token, options.noWindow);
    const WindowDecision window = decideWindow(windowFacts);
    job.noWindow = window.noWindow != NoWindowReason::None;
    job.quietInstaller = job.noWindow;
    job.addressAsText = window.addressAsText;

    job.tempFolder = findTempFolder(job.token);
    // Checked before anything is made; the log says why once it is open.
    const wchar_t* refused = refusedOptionValue(options, longestInstallerPath(job.tempFolder));
    if (refused == nullptr) {
        job.installerArguments = std::move(options.installerArguments);
        job.proxy = options.proxy.value_or(L"");
    }
    const TempFolderFacts temp = examineTempFolder(job);
    LogRefusal logRefusals[2];
    openTheLog(job, options.logPath, temp, logRefusals);

    const bool local = !job.localInstaller.empty();
    logLine(L"=== Skyloom-Setup %s (lingua %s%s%s%s%s%s%s) ===", kSetupVersion,
            job.catalog->languageCode, job.noWindow ? L", sem janela" : L"",
            job.noRun ? L", sem executar" : L"", local ? L", instalador " : L"",
            job.localInstaller.c_str(), job.proxy.empty() ? L"" : L", proxy ", job.proxy.c_str());
    for (const LogRefusal& refusedLog : logRefusals) {
        if (refusedLog.why[0] != L'\0') {
            logLine(L"o registo fica em %s: %s nao serve (%s)", logPath.c_str(),
                    refusedLog.path.c_str(), refusedLog.why);
        }
    }
    if (const wchar_t* line = noWindowLine(window.noWindow)) {
        logLine(L"%s", line);
    }

    if (refused != nullptr) {
        logLine(L"%s", refused);
        return toInt(SetupResult::OptionRefused);
    }
    if (anotherRunHolds(instanceScopesFor(job.token, windowFacts.sessionZero), job.trusted)) {
        return toInt(SetupResult::AlreadyRunning);
    }

    if (temp.openError != 0) {
        logLine(L"nao consegui abrir %s (%lu)", job.tempFolder.c_str(), temp.openError);
        logLine(L"nao consegui criar %s (%lu)", pathIn(job.tempFolder, kWorkFolderName).c_str(),
                temp.openError);
        return toInt(SetupResult::LocalError);
    }
    OwnFolder work;
    if (prepareOwnFolder(job.tempFolderHandle.get(), job.tempFolder, kWorkFolderName, job.trusted,
                         work) != 0) {
        return toInt(SetupResult::LocalError);
    }
    // Recorded only once it is the program's own and held: the clean-up after a failure goes by
    // these fields, and removes no other folder.
    job.workFolder = std::move(work.path);
    job.workFolderHandle = std::move(work.handle);
    job.freshWorkFolder = work.fresh;
    job.installerPath = pathIn(job.workFolder, kInstallerFileName);
    if (temp.listable) {
        removeStaleFolders(job.tempFolderHandle.get(), job.tempFolder, job.trusted);
    }
    job.installerTemp = chooseInstallerTemp(job.token.system || job.token.elevated,
                                            inheritsProgramTemp(job.tempFolder), temp.openToOthers);
    // Only a run with a window shows them.
    if (!job.noWindow) {
        loadDialogIcons(job, instance);
    }
    return std::nullopt;
}
