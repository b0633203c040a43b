#include "log/log_file.h"

#include "base/file_security.h"
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
        if (const DWORD error =
                readSecurityFacts(file, SE_FILE_OBJECT, rules.trustedUser, security);
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

LogFileRules logRulesFor(bool defaultPath, const std::wstring& tempFinalPath, bool tempOpenToOthers,
                         PSID trustedUser) {
    LogFileRules rules;
    if (defaultPath) {
        if (!tempFinalPath.empty()) {
            rules.expectedFinalPath = pathIn(tempFinalPath, kLogFileName);
        }
        rules.ownerMustBeTrusted = tempOpenToOthers;
        rules.trustedUser = trustedUser;
    }
    return rules;
}

std::wstring logRefusalReason(DWORD openError, LogFileVerdict verdict) {
    wchar_t why[64];
    if (openError != 0) {
        formatWide(why, L"nao se abre (%lu)", openError);
    } else {
        formatWide(why, L"%s", logFileRefusal(verdict));
    }
    return why;
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

DWORD openLogFile(const std::wstring& path, const LogFileRules& rules, UniqueFile& file,
                  LogFileVerdict& verdict) {
    file.reset(CreateFileW(path.c_str(), kLogAccess, kLogSharing, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return GetLastError();
    }
    LogFileFacts facts;
    facts.existed = openFoundFile(GetLastError());
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

DWORD openFreshLogFile(const std::wstring& refusedPath, UniqueFile& file, std::wstring& path) {
    // The refused path's folder, up to its last separator; none for a bare name.
    const std::size_t slash = refusedPath.find_last_of(L"\\/");
    const std::size_t folderLength = slash == std::wstring::npos ? 0 : slash + 1;
    const std::wstring prefix = std::wstring(refusedPath.data(), folderLength) + L"Skyloom-Setup";
    return createUnderFreshName(prefix, L".log", path, [&file](const std::wstring& name) {
        file.reset(CreateFileW(name.c_str(), kLogAccess, kLogSharing, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return file ? DWORD{0} : GetLastError();
    });
}
