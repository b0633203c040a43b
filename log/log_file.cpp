#include "log/log_file.h"

#include "base/file_security.h"
#include "base/open_in_folder.h"
#include "base/wide_format.h"

namespace {

// Append access only: every write lands at the then current end of the file. Read access is
// there only for the byte-range lock that keeps the writers apart, which needs read or write
// data access; READ_CONTROL for the owner.
constexpr DWORD kLogAccess = FILE_APPEND_DATA | FILE_READ_DATA | READ_CONTROL;
constexpr DWORD kLogSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

[[nodiscard]] DWORD readLogFileFacts(HANDLE file, const LogFileRules& rules, LogFileFacts& facts) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandle(file, &info)) {
        return GetLastError();
    }
    facts.attributes = tag.FileAttributes | info.dwFileAttributes;
    facts.reparseTag = tag.ReparseTag;
    facts.links = info.nNumberOfLinks;
    if (!rules.expectedFinalPath.empty()) {
        if (const DWORD error = finalPathOf(file, facts.finalPath); error != 0) {
            return error;
        }
    }
    if (facts.existed && rules.ownerMustBeTrusted) {
        SecurityFacts security;
        if (const DWORD error = readSecurityFacts(file, SE_FILE_OBJECT, rules.trusted, security);
            error != 0) {
            return error;
        }
        facts.ownerTrusted = security.ownerTrusted;
    }
    return 0;
}

} // namespace

LogFileVerdict judgeLogFile(const LogFileFacts& facts, const LogFileRules& rules) {
    if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        IsReparseTagNameSurrogate(facts.reparseTag)) {
        return LogFileVerdict::Link;
    }
    if (facts.links != 1) {
        return LogFileVerdict::SecondName;
    }
    // Wine shows a symbolic link to a file only this way.
    if (!rules.expectedFinalPath.empty() && !samePath(facts.finalPath, rules.expectedFinalPath)) {
        return LogFileVerdict::Elsewhere;
    }
    if (facts.existed && rules.ownerMustBeTrusted && !facts.ownerTrusted) {
        return LogFileVerdict::ForeignOwner;
    }
    return LogFileVerdict::Use;
}

LogFileRules defaultLogRules(const std::wstring& tempFinalPath, bool tempOpenToOthers,
                             bool aclsKept, const TrustedSet& trusted) {
    LogFileRules rules;
    if (!tempFinalPath.empty()) {
        rules.expectedFinalPath = pathIn(tempFinalPath, kLogFileName);
    }
    rules.lookFirst = tempOpenToOthers;
    rules.ownerMustBeTrusted = tempOpenToOthers && aclsKept;
    rules.trusted = trusted;
    return rules;
}

LogFileRules privilegedLogRules(bool localVolume, const TrustedSet& trusted) {
    LogFileRules rules;
    rules.lookFirst = true;
    rules.ownerMustBeTrusted = localVolume;
    rules.protectNewFile = true;
    rules.trusted = trusted;
    return rules;
}

void logRefusalReason(DWORD openError, LogFileVerdict verdict, wchar_t (&why)[64]) {
    if (openError != 0) {
        formatWide(why, L"nao se abre (%lu)", openError);
    } else {
        formatWide(why, L"%s", logFileRefusal(verdict));
    }
}

void logFolderRefusal(DWORD error, FolderPlace place, wchar_t (&why)[64]) {
    const wchar_t* words = L"";
    switch (place) {
    case FolderPlace::ReparsePoint:
        words = L"a pasta e' uma ligacao";
        break;
    case FolderPlace::NotAFolder:
        words = L"a pasta nao e' uma pasta";
        break;
    case FolderPlace::Elsewhere:
        words = L"a pasta leva a outro sitio";
        break;
    case FolderPlace::Where:
        if (error != 0) {
            formatWide(why, L"a pasta nao se abre (%lu)", error);
            return;
        }
        break;
    }
    formatWide(why, L"%s", words);
}

const wchar_t* logFileRefusal(LogFileVerdict verdict) {
    switch (verdict) {
    case LogFileVerdict::Link:
        return L"e' uma ligacao";
    case LogFileVerdict::SecondName:
        return L"tem outro nome";
    case LogFileVerdict::Elsewhere:
        return L"leva a outro sitio";
    case LogFileVerdict::ForeignOwner:
        return L"o dono e' outro";
    case LogFileVerdict::Use:
        break;
    }
    return L"";
}

LogLookStep afterLookingAtLog(DWORD lookError, LogFileVerdict verdict) {
    if (lookError == ERROR_FILE_NOT_FOUND) {
        return LogLookStep::Create;
    }
    return lookError == 0 && verdict == LogFileVerdict::Use ? LogLookStep::Open
                                                            : LogLookStep::GiveWay;
}

namespace {

// Reads the facts of an open log file and judges them; a refused file is closed.
[[nodiscard]] DWORD judgeOpenLogFile(const LogFileRules& rules, bool existed, UniqueFile& file,
                                     LogFileVerdict& verdict) {
    LogFileFacts facts;
    facts.existed = existed;
    if (const DWORD error = readLogFileFacts(file.get(), rules, facts); error != 0) {
        file.reset();
        return error;
    }
    verdict = judgeLogFile(facts, rules);
    if (verdict != LogFileVerdict::Use) {
        file.reset();
    }
    return 0;
}

// The log's own name in the held folder, as `rules` open and make it.
[[nodiscard]] DWORD openLogIn(HANDLE folder, std::wstring_view name, ULONG disposition,
                              const LogFileRules& rules, UniqueFile& file,
                              bool* created = nullptr) {
    UniqueLocal descriptor;
    if (rules.protectNewFile && disposition != kOpenExisting) {
        if (const DWORD error = protectedSecurity(rules.trusted, ProtectedObject::File, descriptor);
            error != 0) {
            return error;
        }
    }
    const ULONG options = kFileOnly | kNoFollowing | (rules.lookFirst ? kNoOplockWait : 0);
    return openInFolder(folder, name,
                        {kLogAccess, kLogSharing, disposition, options, descriptor.get()}, file,
                        created);
}

// A look at the name that reads no data, judged: `READ_CONTROL` only where the owner is read
// (a file judged as new is judged without its owner).
[[nodiscard]] DWORD lookAtLog(HANDLE folder, std::wstring_view name, bool owner,
                              const LogFileRules& rules, LogFileVerdict& verdict) {
    UniqueFile look;
    DWORD error = openInFolder(folder, name,
                               {(owner ? DWORD{READ_CONTROL} : DWORD{0}) | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                kOpenExisting, kFileOnly | kNoFollowing | kNoOplockWait},
                               look);
    if (error == 0) {
        error = judgeOpenLogFile(rules, owner, look, verdict);
    }
    return error;
}

// Where others may have made the name first: a look that breaks no lock, then one at the owner
// where it must be trusted, before anything is opened for data.
[[nodiscard]] DWORD openLookingFirst(HANDLE folder, std::wstring_view name,
                                     const LogFileRules& rules, UniqueFile& file,
                                     LogFileVerdict& verdict) {
    LogFileVerdict seen = LogFileVerdict::Use;
    DWORD error = lookAtLog(folder, name, false, rules, seen);
    if (rules.ownerMustBeTrusted && afterLookingAtLog(error, seen) == LogLookStep::Open) {
        error = lookAtLog(folder, name, true, rules, seen);
    }
    switch (afterLookingAtLog(error, seen)) {
    case LogLookStep::Create:
        if (const DWORD created = openLogIn(folder, name, kCreateNew, rules, file); created != 0) {
            return created;
        }
        return judgeOpenLogFile(rules, false, file, verdict);
    case LogLookStep::Open:
        if (const DWORD opened = openLogIn(folder, name, kOpenExisting, rules, file); opened != 0) {
            return opened;
        }
        return judgeOpenLogFile(rules, true, file, verdict);
    case LogLookStep::GiveWay:
        break;
    }
    verdict = seen;
    return error;
}

} // namespace

DWORD openLogFile(const LogPlace& place, const LogFileRules& rules, UniqueFile& file,
                  LogFileVerdict& verdict) {
    verdict = LogFileVerdict::Use;
    if (place.folder == INVALID_HANDLE_VALUE) {
        file.reset(CreateFileW(place.path.c_str(), kLogAccess, kLogSharing, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) {
            return GetLastError();
        }
        return judgeOpenLogFile(rules, openFoundFile(GetLastError()), file, verdict);
    }
    const std::wstring_view name = leafOf(place.path);
    if (rules.lookFirst) {
        return openLookingFirst(place.folder, name, rules, file, verdict);
    }
    bool created = false;
    if (const DWORD error = openLogIn(place.folder, name, kOpenOrCreate, rules, file, &created);
        error != 0) {
        return error;
    }
    return judgeOpenLogFile(rules, !created, file, verdict);
}

DWORD openFreshLogFile(const LogPlace& refused, const LogFileRules& rules, UniqueFile& file,
                       std::wstring& path) {
    // The refused path's folder, up to its last separator; none for a bare name.
    const std::wstring_view name = leafOf(refused.path);
    const std::wstring folder(refused.path.data(), refused.path.size() - name.size());
    std::wstring fresh;
    const DWORD error =
        createUnderFreshName(L"Skyloom-Setup", L".log", fresh, [&](const std::wstring& candidate) {
            if (refused.folder != INVALID_HANDLE_VALUE) {
                return openLogIn(refused.folder, candidate, kCreateNew, rules, file);
            }
            file.reset(CreateFileW((folder + candidate).c_str(), kLogAccess, kLogSharing, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
            return file ? DWORD{0} : GetLastError();
        });
    path = folder + fresh;
    return error;
}

std::wstring expectedFinalPathOf(const std::wstring& longPath) {
    const std::wstring_view prefix = L"\\\\?\\";
    return withoutTrailingBackslash(longPath.starts_with(prefix) ? longPath
                                                                 : std::wstring(prefix) + longPath);
}

DWORD holdLogFolder(const std::wstring& logPath, UniqueFile& folder, FolderPlace& place,
                    bool& localVolume) {
    place = FolderPlace::Where;
    wchar_t full[MAX_PATH * 2];
    wchar_t* name = nullptr;
    const DWORD length = GetFullPathNameW(logPath.c_str(), MAX_PATH * 2, full, &name);
    if (length == 0 || length >= MAX_PATH * 2 || name == nullptr) {
        return length == 0 ? GetLastError() : DWORD{ERROR_FILENAME_EXCED_RANGE};
    }
    const std::wstring folderPath = withoutTrailingBackslash(std::wstring(full, name - full));
    wchar_t volume[MAX_PATH * 2];
    if (!GetVolumePathNameW(folderPath.c_str(), volume, MAX_PATH * 2)) {
        return GetLastError();
    }
    localVolume = GetDriveTypeW(volume) != DRIVE_REMOTE;
    const bool root = samePath(volume, folderPath);
    // A root is opened by its path: nobody plants a volume. Any other folder by its name in its
    // parent, which is opened for its attributes only: that breaks no lock, and the checks below
    // judge the path the parent was reached by.
    UniqueFile parent;
    DWORD error = 0;
    if (root) {
        folder.reset(CreateFileW(
            folderPath.c_str(), kHeldFolderAccess, kHeldFolderSharing, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        error = folder ? DWORD{0} : GetLastError();
    } else {
        const std::wstring_view leaf = leafOf(folderPath);
        parent.reset(CreateFileW(
            std::wstring(folderPath.data(), folderPath.size() - leaf.size()).c_str(),
            FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        error = parent ? openInFolder(parent.get(), leaf,
                                      {kHeldFolderAccess, kHeldFolderSharing, kOpenExisting,
                                       kNoFollowing | kNoOplockWait},
                                      folder)
                       : GetLastError();
    }
    // A share's root: only a link there is refused. Its other folders: where their parent's
    // final path and their name say.
    const bool byParent = !localVolume && !root;
    DWORD attributes = 0;
    std::wstring finalPath;
    std::wstring expected;
    if (error == 0) {
        error = readFolderPlace(folderPath.c_str(), folder.get(),
                                byParent ? parent.get() : INVALID_HANDLE_VALUE, attributes,
                                finalPath, expected);
    }
    if (error == 0 && localVolume) {
        wchar_t longPath[MAX_PATH * 2];
        const DWORD longLength = GetLongPathNameW(folderPath.c_str(), longPath, MAX_PATH * 2);
        error = longLength == 0              ? GetLastError()
                : longLength >= MAX_PATH * 2 ? DWORD{ERROR_FILENAME_EXCED_RANGE}
                                             : DWORD{0};
        expected = expectedFinalPathOf(std::wstring(longPath, error == 0 ? longLength : 0));
    } else if (error == 0) {
        expected = byParent ? pathIn(expected, leafOf(folderPath)) : finalPath;
    }
    if (error == 0) {
        place = judgeFolderPlace(attributes, finalPath, expected);
        error = place == FolderPlace::Where ? DWORD{0} : DWORD{ERROR_ACCESS_DENIED};
    }
    if (error != 0) {
        folder.reset();
    }
    return error;
}
