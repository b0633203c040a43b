#include "app/work_folder.h"

#include "base/open_in_folder.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

FixedFolderStep afterCreatingFixedFolder(DWORD error) {
    if (error == 0) {
        return FixedFolderStep::Use;
    }
    // Anything else, a folder left delete pending by the last run (access denied) among it,
    // costs only what could have been resumed.
    return error == ERROR_ALREADY_EXISTS ? FixedFolderStep::Examine : FixedFolderStep::Fresh;
}

FolderVerdict judgeOwnFolder(const FolderFacts& facts, std::wstring_view name,
                             const TrustedSet& trusted) {
    switch (
        judgeFolderPlace(facts.attributes, facts.finalPath, pathIn(facts.parentFinalPath, name))) {
    case FolderPlace::ReparsePoint:
        return FolderVerdict::ReparsePoint;
    case FolderPlace::NotAFolder:
        return FolderVerdict::NotAFolder;
    case FolderPlace::Elsewhere:
        return FolderVerdict::Elsewhere;
    case FolderPlace::Where:
        break;
    }
    if (!facts.aclsKept) {
        return FolderVerdict::Own;
    }
    if (!facts.security.ownerTrusted) {
        return FolderVerdict::ForeignOwner;
    }
    if (facts.security.strangersMayWrite) {
        return FolderVerdict::OthersMayWrite;
    }
    return trusted.highLabel && !facts.security.highLabel ? FolderVerdict::NoLabel
                                                          : FolderVerdict::Own;
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
    case FolderVerdict::NoLabel:
        return L"nao tem o rotulo de integridade alta";
    case FolderVerdict::Own:
        break;
    }
    return L"";
}

DWORD examineFolder(HANDLE parent, const std::wstring& path, HANDLE folder,
                    const TrustedSet& trusted, FolderFacts& facts) {
    facts.aclsKept = volumeKeepsAcls(folder);
    if (const DWORD error = readFolderPlace(path.c_str(), folder, parent, facts.attributes,
                                            facts.finalPath, facts.parentFinalPath);
        error != 0) {
        return error;
    }
    return readSecurityFacts(folder, SE_FILE_OBJECT, trusted, facts.security);
}

namespace {

// Created or opened and held in one step: no moment between the check and the hold. What
// exists is opened whatever it is, so that the check can say what it is, and without waiting
// on a lock that whoever made it may hold.
[[nodiscard]] DWORD holdFolder(HANDLE parent, std::wstring_view name, ULONG disposition,
                               PSECURITY_DESCRIPTOR descriptor, UniqueFile& folder) {
    const ULONG kind = disposition == kCreateNew ? kFolderOnly : 0;
    return openInFolder(parent, name,
                        {kHeldFolderAccess, kHeldFolderSharing, disposition,
                         kind | kNoFollowing | kNoOplockWait, descriptor},
                        folder);
}

// Whether the folder of the fixed name that exists already passes the rule, checked on the
// handle that then holds it; logs why not.
[[nodiscard]] bool existingFolderIsOwn(HANDLE parent, const std::wstring& path,
                                       std::wstring_view name, const TrustedSet& trusted,
                                       UniqueFile& folder) {
    FolderFacts facts;
    DWORD examined = holdFolder(parent, name, kOpenExisting, nullptr, folder);
    if (examined == 0) {
        examined = examineFolder(parent, path, folder.get(), trusted, facts);
    }
    if (examined != 0) {
        logLine(L"nao uso %s: nao a consegui examinar (%lu)", path.c_str(), examined);
        folder.reset();
        return false;
    }
    if (const FolderVerdict verdict = judgeOwnFolder(facts, name, trusted);
        verdict != FolderVerdict::Own) {
        logLine(L"nao uso %s: %s", path.c_str(), folderRefusal(verdict));
        folder.reset();
        return false;
    }
    return true;
}

} // namespace

DWORD prepareOwnFolder(HANDLE parent, const std::wstring& parentPath, std::wstring_view name,
                       const TrustedSet& trusted, OwnFolder& folder) {
    folder.path = pathIn(parentPath, name);
    folder.fresh = false;
    UniqueLocal descriptor;
    DWORD error = protectedSecurity(trusted, ProtectedObject::Folder, descriptor);
    if (error == 0) {
        // A folder that fails is left as it is: nothing is written through it, run from it or
        // deleted in it. The run loses only what it could have resumed.
        error = holdFolder(parent, name, kCreateNew, descriptor.get(), folder.handle);
        switch (afterCreatingFixedFolder(error)) {
        case FixedFolderStep::Use:
            return 0;
        case FixedFolderStep::Examine:
            if (existingFolderIsOwn(parent, folder.path, name, trusted, folder.handle)) {
                return 0; // what an earlier run left there is resumed
            }
            break;
        case FixedFolderStep::Fresh:
            logLine(L"nao uso %s (%lu)", folder.path.c_str(), error);
            break;
        }
        folder.fresh = true;
        error = createUnderFreshName(name, L"", folder.path, [&](const std::wstring& fresh) {
            return holdFolder(parent, fresh, kCreateNew, descriptor.get(), folder.handle);
        });
        folder.path = pathIn(parentPath, folder.path);
    }
    if (error != 0) {
        logLine(L"nao consegui criar %s (%lu)", folder.path.c_str(), error);
    }
    return error;
}

DWORD removeOwnFolder(HANDLE parent, const std::wstring& path, UniqueFile& held) {
    FileIdentity identity;
    if (const DWORD error = identityOf(held.get(), identity); error != 0) {
        return error;
    }
    held.reset();
    const DWORD error = retryWhileHeld(HeldThing::Folder, path.c_str(), [&] {
        return deleteFolderIn(parent, leafOf(path), identity);
    });
    if (failureNeedsItsOwnLine(error)) {
        logLine(L"a pasta fica: %s (%lu)", path.c_str(), error);
    }
    return error;
}
