#include "app/work_folder.h"

#include "log/diagnostic_log.h"
#include "platform/plain_file.h"

FixedFolderStep afterCreatingFixedFolder(DWORD error) {
    if (error == 0) {
        return FixedFolderStep::Use;
    }
    // Anything else, a folder left delete pending by the last run (access denied) among it,
    // costs only what could have been resumed.
    return error == ERROR_ALREADY_EXISTS ? FixedFolderStep::Examine : FixedFolderStep::Fresh;
}

FolderVerdict judgeOwnFolder(const FolderFacts& facts, std::wstring_view name) {
    if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FolderVerdict::ReparsePoint;
    }
    if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FolderVerdict::NotAFolder;
    }
    // Final paths on both sides: the parent's name may hold 8.3 names or pass through a
    // junction of its own.
    if (!samePath(facts.finalPath, pathIn(facts.parentFinalPath, name))) {
        return FolderVerdict::Elsewhere;
    }
    if (!facts.security.ownerTrusted) {
        return FolderVerdict::ForeignOwner;
    }
    return strangersMayWrite(facts.security) ? FolderVerdict::OthersMayWrite : FolderVerdict::Own;
}

const wchar_t* folderRefusal(FolderVerdict verdict) {
    switch (verdict) {
    case FolderVerdict::ReparsePoint:
        return L"e' uma ligacao";
    case FolderVerdict::NotAFolder:
        return L"nao e' uma pasta";
    case FolderVerdict::Elsewhere:
        return L"leva a outro sitio";
    case FolderVerdict::ForeignOwner:
        return L"o dono e' outro";
    case FolderVerdict::OthersMayWrite:
        return L"outros podem escrever nela";
    case FolderVerdict::Own:
        break;
    }
    return L"";
}

namespace {

// Opened for its security and name only, shared with everyone.
[[nodiscard]] DWORD openFolder(const std::wstring& path, UniqueFile& folder,
                               BY_HANDLE_FILE_INFORMATION& info) {
    return openUnfollowed(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, folder, info);
}

[[nodiscard]] DWORD examineFolder(const std::wstring& folder, const std::wstring& parent, PSID user,
                                  FolderFacts& facts) {
    UniqueFile parentHandle;
    UniqueFile handle;
    BY_HANDLE_FILE_INFORMATION info{};
    // The parent itself may be reached through a link: its final path is what counts.
    parentHandle.reset(CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parentHandle) {
        return GetLastError();
    }
    if (const DWORD error = finalPathOf(parentHandle.get(), facts.parentFinalPath); error != 0) {
        return error;
    }
    // Wine shows a link only to the path, Windows to a handle that does not follow it.
    facts.attributes = GetFileAttributesW(folder.c_str());
    if (facts.attributes == INVALID_FILE_ATTRIBUTES) {
        return GetLastError();
    }
    if (const DWORD error = openFolder(folder, handle, info); error != 0) {
        return error;
    }
    facts.attributes |= info.dwFileAttributes;
    return readFolderFacts(handle.get(), user, facts.finalPath, facts.security);
}

// CreateDirectoryW fails on a name that exists, whatever it is: a folder made here is new.
[[nodiscard]] DWORD createFolder(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) ? DWORD{0} : GetLastError();
}

// Whether the folder of the fixed name that exists already passes the rule; logs why not.
[[nodiscard]] bool existingFolderIsOwn(const std::wstring& folder, const std::wstring& parent,
                                       std::wstring_view name, PSID user) {
    FolderFacts facts;
    if (const DWORD examined = examineFolder(folder, parent, user, facts); examined != 0) {
        logLine(L"nao uso %s: nao a consegui examinar (%lu)", folder.c_str(), examined);
        return false;
    }
    if (const FolderVerdict verdict = judgeOwnFolder(facts, name); verdict != FolderVerdict::Own) {
        logLine(L"nao uso %s: %s", folder.c_str(), folderRefusal(verdict));
        return false;
    }
    return true;
}

} // namespace

DWORD prepareOwnFolder(const std::wstring& parent, std::wstring_view name, PSID trustedUser,
                       std::wstring& folder, bool& fresh) {
    folder = pathIn(parent, name);
    fresh = false;
    UniqueLocal descriptor;
    DWORD error = protectedSecurity(trustedUser, L"FA", true, descriptor);
    if (error == 0) {
        // A folder that fails is left as it is: nothing is written through it, run from it or
        // deleted in it. The run loses only what it could have resumed.
        error = createFolder(folder, descriptor.get());
        switch (afterCreatingFixedFolder(error)) {
        case FixedFolderStep::Use:
            return 0;
        case FixedFolderStep::Examine:
            if (existingFolderIsOwn(folder, parent, name, trustedUser)) {
                return 0; // what an earlier run left there is resumed
            }
            break;
        case FixedFolderStep::Fresh:
            logLine(L"nao uso %s (%lu)", folder.c_str(), error);
            break;
        }
        fresh = true;
        error =
            createUnderFreshName(pathIn(parent, name), L"", folder, [&](const std::wstring& path) {
                return createFolder(path, descriptor.get());
            });
    }
    if (error != 0) {
        logLine(L"nao consegui criar %s (%lu)", folder.c_str(), error);
    }
    return error;
}
