#include "base/file_security.h"

#include "base/wide_format.h"

#include <rpc.h>
#include <sddl.h>

#include <iterator>

DWORD readTokenFacts(TokenFacts& facts) {
    UniqueKernelHandle token;
    DWORD size = 0;
    TOKEN_ELEVATION elevation{};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) ||
        !GetTokenInformation(token.get(), TokenUser, facts.userBytes, sizeof facts.userBytes,
                             &size)) {
        return GetLastError();
    }
    // A token that cannot tell counts as not elevated: the stricter rules then stay off, the
    // ordinary ones on.
    if (GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) {
        facts.elevated = elevation.TokenIsElevated != 0;
    }
    facts.system = IsWellKnownSid(facts.user(), WinLocalSystemSid) != FALSE;
    // A group present but for deny only, as in a filtered token, is not a member here.
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    BOOL member = FALSE;
    facts.administrator =
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) &&
        CheckTokenMembership(nullptr, administrators, &member) && member;
    return 0;
}

TrustedSet trustedSetFor(const TokenFacts& token) {
    if (token.elevated && token.administrator) {
        return {};
    }
    return {token.user(), token.elevated && !token.system};
}

bool trustedSid(PSID sid, PSID user) {
    return sid != nullptr &&
           ((user != nullptr && EqualSid(sid, user)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
            IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

AceFacts aceFactsOf(std::uint8_t type, std::uint32_t mask, bool sidTrusted) {
    switch (type) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        return {true, sidTrusted, mask};
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        return {true, false, mask};
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        return {false, sidTrusted, mask};
    default:
        return {true, false, 0xFFFFFFFFu};
    }
}

bool highLabelIn(const ACL* sacl) {
    constexpr BYTE kInherited = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    for (DWORD i = 0; sacl != nullptr && i < sacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(const_cast<ACL*>(sacl), i, &entry)) {
            return false;
        }
        const auto& label = *static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(entry);
        // A label's SID is the mandatory authority's with one level: S-1-16-<level>.
        const auto& level = reinterpret_cast<const SID&>(label.SidStart);
        if (label.Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE &&
            (label.Header.AceFlags & (kInherited | INHERIT_ONLY_ACE)) == kInherited &&
            (label.Mask & SYSTEM_MANDATORY_LABEL_NO_WRITE_UP) != 0 &&
            level.SubAuthorityCount == 1 && level.SubAuthority[0] >= SECURITY_MANDATORY_HIGH_RID) {
            return true;
        }
    }
    return false;
}

DWORD readSecurityFacts(HANDLE object, SE_OBJECT_TYPE type, const TrustedSet& trusted,
                        SecurityFacts& facts) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PACL sacl = nullptr;
    UniqueLocal descriptor;
    const SECURITY_INFORMATION asked = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       (trusted.highLabel ? LABEL_SECURITY_INFORMATION : 0);
    if (const DWORD error =
            GetSecurityInfo(object, type, asked, &owner, nullptr, &dacl, &sacl, descriptor.put());
        error != ERROR_SUCCESS) {
        return error;
    }
    const PSID user = trusted.user;
    facts.ownerTrusted = trustedSid(owner, user);
    facts.highLabel = highLabelIn(sacl);
    facts.strangersMayWrite = dacl == nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            return GetLastError();
        }
        const auto& ace = *static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        const BYTE type = ace.Header.AceType;
        // Read as a SID only where one follows the mask.
        const bool sidFollows =
            type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
            type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_ACE_TYPE;
        const bool sidTrusted = sidFollows && trustedSid(const_cast<DWORD*>(&ace.SidStart), user);
        facts.strangersMayWrite |= grantsStranger(aceFactsOf(type, ace.Mask, sidTrusted));
    }
    return 0;
}

std::uint32_t randomValue(int attempt) {
    UUID random{};
    const RPC_STATUS status = UuidCreate(&random);
    // A failed UuidCreate leaves nothing random: the clock and the process stand in, so that
    // every try still gets a value of its own.
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) {
        LARGE_INTEGER counter{};
        (void)QueryPerformanceCounter(&counter);
        return static_cast<std::uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 12) ^
               static_cast<std::uint32_t>(attempt);
    }
    return random.Data1;
}

std::wstring freshSuffix(int attempt) {
    wchar_t suffix[16];
    formatWide(suffix, L"-%08lX", randomValue(attempt));
    return suffix;
}

std::wstring pathIn(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    return path += name;
}

std::wstring_view leafOf(std::wstring_view path) {
    // npos + 1 is 0: a path without a separator is its own last step.
    path.remove_prefix(path.find_last_of(L'\\') + 1);
    return path;
}

namespace {

// As withoutTrailingBackslash, in place.
std::wstring_view trimmed(std::wstring_view path) {
    while (path.size() > 3 && path.back() == L'\\') {
        path.remove_suffix(1);
    }
    return path;
}

} // namespace

bool samePath(std::wstring_view a, std::wstring_view b) {
    a = trimmed(a);
    b = trimmed(b);
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring withoutTrailingBackslash(std::wstring path) {
    path.resize(trimmed(path).size());
    return path;
}

DWORD readFolderFacts(HANDLE folder, const TrustedSet& trusted, std::wstring& finalPath,
                      SecurityFacts& security) {
    if (const DWORD error = finalPathOf(folder, finalPath); error != 0) {
        return error;
    }
    return readSecurityFacts(folder, SE_FILE_OBJECT, trusted, security);
}

FolderPlace judgeFolderPlace(DWORD attributes, const std::wstring& finalPath,
                             const std::wstring& expectedFinalPath) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FolderPlace::ReparsePoint;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FolderPlace::NotAFolder;
    }
    return samePath(finalPath, expectedFinalPath) ? FolderPlace::Where : FolderPlace::Elsewhere;
}

DWORD readFolderPlace(const wchar_t* path, HANDLE folder, HANDLE parent, DWORD& attributes,
                      std::wstring& finalPath, std::wstring& parentFinalPath) {
    BY_HANDLE_FILE_INFORMATION info{};
    attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !GetFileInformationByHandle(folder, &info)) {
        return GetLastError();
    }
    attributes |= info.dwFileAttributes;
    if (const DWORD error = finalPathOf(folder, finalPath); error != 0) {
        return error;
    }
    return parent == INVALID_HANDLE_VALUE ? DWORD{0} : finalPathOf(parent, parentFinalPath);
}

DWORD finalPathOf(HANDLE handle, std::wstring& path) {
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

bool volumeKeepsAcls(HANDLE object) {
    DWORD flags = 0;
    return !GetVolumeInformationByHandleW(object, nullptr, 0, nullptr, nullptr, &flags, nullptr,
                                          0) ||
           (flags & FILE_PERSISTENT_ACLS) != 0;
}

DWORD protectedSecurity(const TrustedSet& trusted, ProtectedObject object, UniqueLocal& descriptor,
                        PSID watcher) {
    const bool folder = object == ProtectedObject::Folder;
    const wchar_t* flags = folder ? L"OICI" : L"";
    const wchar_t* rights = object == ProtectedObject::Mutex ? L"GA" : L"FA";
    // Short SDDL words and up to two SIDs' texts, each at most 184 characters.
    wchar_t sddl[640];
    std::size_t length =
        formatWide(sddl, L"D:P(A;%s;%s;;;SY)(A;%s;%s;;;BA)%s", flags, rights, flags, rights,
                   object == ProtectedObject::File ? L"(A;;FA;;;OW)" : L"");
    const struct {
        PSID sid;
        const wchar_t* rights;
    } others[] = {{trusted.user, rights}, {watcher, L"0x120000"}}; // SYNCHRONIZE, READ_CONTROL
    for (const auto& other : others) {
        UniqueLocal text;
        if (other.sid == nullptr) {
            continue;
        }
        if (!ConvertSidToStringSidW(other.sid, reinterpret_cast<LPWSTR*>(text.put()))) {
            return GetLastError();
        }
        length += formatWide(sddl + length, std::size(sddl) - length, L"(A;%s;%s;;;%s)", flags,
                             other.rights, static_cast<const wchar_t*>(text.get()));
    }
    if (folder && trusted.highLabel) {
        formatWide(sddl + length, std::size(sddl) - length, L"S:(ML;OICI;NW;;;HI)");
    }
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
        return GetLastError();
    }
    return 0;
}
