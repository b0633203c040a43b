#include "app/work_folder.h"

#include "base/handles.h"
#include "base/wide_format.h"
#include "log/diagnostic_log.h"
#include "platform/plain_file.h"

#include <aclapi.h>
#include <rpc.h>
#include <sddl.h>

#include <algorithm>
#include <string_view>

namespace {

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

} // namespace

std::wstring pathIn(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    return path += name;
}

FixedFolderStep afterCreatingFixedFolder(DWORD error) {
    if (error == 0) {
        return FixedFolderStep::Use;
    }
    // Anything else, a folder left delete pending by the last run (access denied) among it,
    // costs only what could have been resumed.
    return error == ERROR_ALREADY_EXISTS ? FixedFolderStep::Examine : FixedFolderStep::Fresh;
}

FolderVerdict judgeWorkFolder(const FolderFacts& facts) {
    if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FolderVerdict::ReparsePoint;
    }
    if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FolderVerdict::NotAFolder;
    }
    // Final paths on both sides: the temporary folder's name may hold 8.3 names or pass
    // through a junction of its own.
    if (!sameText(facts.finalPath, pathIn(facts.tempFinalPath, kWorkFolderName))) {
        return FolderVerdict::Elsewhere;
    }
    if (!facts.ownerTrusted) {
        return FolderVerdict::ForeignOwner;
    }
    const bool strangerMayWrite =
        !facts.hasDacl || std::any_of(facts.aces.begin(), facts.aces.end(), [](AceFacts ace) {
            return ace.allows && !ace.trusted && (ace.mask & kForeignRights) != 0;
        });
    return strangerMayWrite ? FolderVerdict::OthersMayWrite : FolderVerdict::Own;
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

// A TOKEN_USER with room for the largest SID.
struct TokenUserBuffer {
    alignas(TOKEN_USER) BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    PSID sid() const { return reinterpret_cast<const TOKEN_USER*>(bytes)->User.Sid; }
};

[[nodiscard]] DWORD readTokenUser(TokenUserBuffer& user) {
    UniqueKernelHandle token;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !GetTokenInformation(token.get(), TokenUser, user.bytes, sizeof user.bytes, &size)) {
        return GetLastError();
    }
    return 0;
}

bool trustedSid(PSID sid, PSID user) {
    return sid != nullptr && (EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
                              IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

AceFacts aceFacts(const ACE_HEADER& header, PSID user) {
    // Every allowing kind keeps its mask right after the header; only the plain and the
    // conditional kind keep the SID right after the mask, so the object kinds count as a
    // stranger's.
    const auto& ace = reinterpret_cast<const ACCESS_ALLOWED_ACE&>(header);
    const BYTE type = header.AceType;
    const bool sidFollows =
        type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    const bool allows = sidFollows || type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
                        type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE;
    const PSID sid = sidFollows ? const_cast<DWORD*>(&ace.SidStart) : nullptr;
    return {allows, trustedSid(sid, user), ace.Mask};
}

// Opened for its security and name only, shared with everyone.
[[nodiscard]] DWORD openFolder(const std::wstring& path, UniqueFile& folder,
                               BY_HANDLE_FILE_INFORMATION& info) {
    return openUnfollowed(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, folder, info);
}

[[nodiscard]] DWORD finalPathOf(HANDLE handle, std::wstring& path) {
    path.assign(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
        if (length == 0) {
            return GetLastError();
        }
        // Too small: the length asked for counts the terminator.
        const bool fits = length < path.size();
        path.resize(length);
        if (fits) {
            return 0;
        }
    }
}

[[nodiscard]] DWORD examineFolder(const std::wstring& folder, const std::wstring& tempFolder,
                                  PSID user, FolderFacts& facts) {
    UniqueFile temp;
    UniqueFile handle;
    BY_HANDLE_FILE_INFORMATION info{};
    // The temporary folder itself may be reached through a link: its final path is what counts.
    temp.reset(CreateFileW(tempFolder.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!temp) {
        return GetLastError();
    }
    if (const DWORD error = finalPathOf(temp.get(), facts.tempFinalPath); error != 0) {
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
    if (const DWORD error = finalPathOf(handle.get(), facts.finalPath); error != 0) {
        return error;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    UniqueLocal descriptor;
    if (const DWORD error = GetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                            &owner, nullptr, &dacl, nullptr, descriptor.put());
        error != ERROR_SUCCESS) {
        return error;
    }
    facts.ownerTrusted = trustedSid(owner, user);
    facts.hasDacl = dacl != nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            return GetLastError();
        }
        facts.aces.push_back(aceFacts(*static_cast<const ACE_HEADER*>(ace), user));
    }
    return 0;
}

// Full control for the trusted set alone, passed down to every file and folder made in it,
// and protected from what the temporary folder would pass down. Set at creation: a DACL set
// afterwards would leave a moment in which the folder is open to others.
[[nodiscard]] DWORD protectedFolderSecurity(PSID user, UniqueLocal& descriptor) {
    UniqueLocal userText;
    if (!ConvertSidToStringSidW(user, reinterpret_cast<LPWSTR*>(userText.put()))) {
        return GetLastError();
    }
    std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;";
    sddl += static_cast<const wchar_t*>(userText.get());
    sddl += L")";
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
        return GetLastError();
    }
    return 0;
}

// CreateDirectoryW fails on a name that exists, whatever it is: a folder made here is new.
[[nodiscard]] DWORD createFolder(const std::wstring& path, PSECURITY_DESCRIPTOR descriptor) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    return CreateDirectoryW(path.c_str(), &attributes) ? DWORD{0} : GetLastError();
}

// Eight hexadecimal digits of a random UUID. A failed UuidCreate leaves nothing random, so the
// clock and the process stand in: every try still gets a name of its own.
std::uint32_t randomSuffix(int attempt) {
    UUID random{};
    const RPC_STATUS status = UuidCreate(&random);
    if (status == RPC_S_OK || status == RPC_S_UUID_LOCAL_ONLY) {
        return random.Data1;
    }
    LARGE_INTEGER counter{};
    (void)QueryPerformanceCounter(&counter);
    return static_cast<std::uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 12) ^
           static_cast<std::uint32_t>(attempt);
}

// Skyloom-Setup- and a random suffix, a name taken already being passed over for the next.
[[nodiscard]] DWORD createFreshFolder(const std::wstring& tempFolder,
                                      PSECURITY_DESCRIPTOR descriptor, std::wstring& folder) {
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int i = 0; i < kFreshFolderTries && error == ERROR_ALREADY_EXISTS; ++i) {
        wchar_t name[32];
        formatWide(name, L"%s%08lX", kFreshFolderPrefix, randomSuffix(i));
        folder = pathIn(tempFolder, name);
        error = createFolder(folder, descriptor);
    }
    return error;
}

// Whether the fixed folder that exists already is the program's own; logs why not.
[[nodiscard]] bool existingFolderIsOwn(const std::wstring& folder, const std::wstring& tempFolder,
                                       PSID user) {
    FolderFacts facts;
    if (const DWORD examined = examineFolder(folder, tempFolder, user, facts); examined != 0) {
        logLine(L"nao uso %s: nao a consegui examinar (%lu)", folder.c_str(), examined);
        return false;
    }
    if (const FolderVerdict verdict = judgeWorkFolder(facts); verdict != FolderVerdict::Own) {
        logLine(L"nao uso %s: %s", folder.c_str(), folderRefusal(verdict));
        return false;
    }
    return true;
}

} // namespace

DWORD prepareWorkFolder(const std::wstring& tempFolder, std::wstring& workFolder,
                        bool& freshFolder) {
    workFolder = pathIn(tempFolder, kWorkFolderName);
    freshFolder = false;
    TokenUserBuffer user{};
    UniqueLocal descriptor;
    DWORD error = readTokenUser(user);
    if (error == 0) {
        error = protectedFolderSecurity(user.sid(), descriptor);
    }
    if (error == 0) {
        // A folder that fails is left as it is: nothing is written through it, run from it or
        // deleted in it. The run loses only what it could have resumed.
        error = createFolder(workFolder, descriptor.get());
        switch (afterCreatingFixedFolder(error)) {
        case FixedFolderStep::Use:
            return 0;
        case FixedFolderStep::Examine:
            if (existingFolderIsOwn(workFolder, tempFolder, user.sid())) {
                return 0; // what an earlier run left there is resumed
            }
            break;
        case FixedFolderStep::Fresh:
            logLine(L"nao uso %s (%lu)", workFolder.c_str(), error);
            break;
        }
        freshFolder = true;
        error = createFreshFolder(tempFolder, descriptor.get(), workFolder);
    }
    if (error != 0) {
        logLine(L"nao consegui criar %s (%lu)", workFolder.c_str(), error);
    }
    return error;
}
