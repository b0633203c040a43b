#include "base/file_security.h"

#include "base/wide_format.h"

#include <rpc.h>
#include <sddl.h>

#include <algorithm>
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

PSID trustedUserFor(const TokenFacts& token, bool elevatedSet) {
    return elevatedSet && token.elevated && token.administrator ? nullptr : token.user();
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

bool strangersMayWrite(const SecurityFacts& facts) {
    return !facts.hasDacl || std::any_of(facts.aces.begin(), facts.aces.end(), [](AceFacts ace) {
        return ace.allows && !ace.trusted && (ace.mask & kForeignRights) != 0;
    });
}

DWORD readSecurityFacts(HANDLE object, SE_OBJECT_TYPE type, PSID user, SecurityFacts& facts) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    UniqueLocal descriptor;
    if (const DWORD error =
            GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, descriptor.put());
        error != ERROR_SUCCESS) {
        return error;
    }
    facts.ownerTrusted = trustedSid(owner, user);
    facts.hasDacl = dacl != nullptr;
    facts.aces.clear();
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
        facts.aces.push_back(aceFactsOf(type, ace.Mask, sidTrusted));
    }
    return 0;
}

std::wstring freshSuffix(int attempt) {
    UUID random{};
    const RPC_STATUS status = UuidCreate(&random);
    std::uint32_t value = random.Data1;
    // A failed UuidCreate leaves nothing random: the clock and the process stand in, so that
    // every try still gets a name of its own.
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY) {
        LARGE_INTEGER counter{};
        (void)QueryPerformanceCounter(&counter);
        value = static_cast<std::uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 12) ^
                static_cast<std::uint32_t>(attempt);
    }
    wchar_t suffix[16];
    formatWide(suffix, L"-%08lX", value);
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

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring withoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();
    }
    return path;
}

DWORD readFolderFacts(HANDLE folder, PSID user, std::wstring& finalPath, SecurityFacts& security) {
    if (const DWORD error = finalPathOf(folder, finalPath); error != 0) {
        return error;
    }
    return readSecurityFacts(folder, SE_FILE_OBJECT, user, security);
}

FolderPlace judgeFolderPlace(DWORD attributes, const std::wstring& finalPath,
                             const std::wstring& parentFinalPath, std::wstring_view name) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return FolderPlace::ReparsePoint;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return FolderPlace::NotAFolder;
    }
    return samePath(finalPath, pathIn(parentFinalPath, name)) ? FolderPlace::Where
                                                              : FolderPlace::Elsewhere;
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
    return finalPathOf(parent, parentFinalPath);
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

DWORD protectedSecurity(PSID user, const wchar_t* rights, bool inherit, UniqueLocal& descriptor) {
    UniqueLocal userText;
    if (user != nullptr &&
        !ConvertSidToStringSidW(user, reinterpret_cast<LPWSTR*>(userText.put()))) {
        return GetLastError();
    }
    // Rights are a short SDDL word ("FA", "GA") and a SID's text at most 184 characters.
    const wchar_t* flags = inherit ? L"OICI" : L"";
    wchar_t sddl[512];
    std::size_t length =
        formatWide(sddl, L"D:P(A;%s;%s;;;SY)(A;%s;%s;;;BA)", flags, rights, flags, rights);
    if (userText) {
        formatWide(sddl + length, std::size(sddl) - length, L"(A;%s;%s;;;%s)", flags, rights,
                   static_cast<const wchar_t*>(userText.get()));
    }
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                              descriptor.put(), nullptr)) {
        return GetLastError();
    }
    return 0;
}
