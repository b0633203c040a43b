// winrun [NAME=VALUE]... [--inherit-file=PATH] [--elevated] -- PROGRAM [ARG]...
// Starts PROGRAM with the given environment variables set (TEMP, for instance, which Wine
// otherwise takes from the prefix), waits for it and exits with its exit code, which it also
// prints as "exit=N" (full 32 bits: the Unix exit status keeps only 8).
// Windows starts a user's programs with the limited half of an administrator's token; Wine 8
// starts every program with the elevated half. PROGRAM gets the limited half, as on Windows,
// unless --elevated asks for it "as administrator".
// --inherit-file opens PATH with an inheritable handle, hands it down to PROGRAM and names its
// value in SKYLOOM_TEST_INHERITED_HANDLE: a program PROGRAM starts without inheritance must
// not see it.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The quoting that CommandLineToArgvW undoes.
std::wstring quoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

// The limited token linked to this process's elevated one; null when there is none.
HANDLE limitedToken() {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
        return nullptr;
    }
    TOKEN_ELEVATION_TYPE type{};
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    HANDLE primary = nullptr;
    if (GetTokenInformation(own, TokenElevationType, &type, sizeof type, &size) &&
        type == TokenElevationTypeFull &&
        GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
        DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                         TokenPrimary, &primary);
        CloseHandle(linked.LinkedToken);
    }
    CloseHandle(own);
    return primary;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    BOOL inherit = FALSE;
    bool elevated = false;
    for (; i < argc && std::wstring(argv[i]) != L"--"; ++i) {
        std::wstring pair = argv[i];
        if (pair == L"--elevated") {
            elevated = true;
            continue;
        }
        if (pair.rfind(L"--inherit-file=", 0) == 0) {
            SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
            HANDLE file = CreateFileW(pair.substr(15).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file == INVALID_HANDLE_VALUE) {
                std::fprintf(stderr, "winrun: cannot open the file to inherit\n");
                return 255;
            }
            SetEnvironmentVariableW(L"SKYLOOM_TEST_INHERITED_HANDLE",
                                    std::to_wstring(reinterpret_cast<ULONG_PTR>(file)).c_str());
            inherit = TRUE;
            continue;
        }
        const std::size_t eq = pair.find(L'=');
        if (eq == std::wstring::npos) {
            std::fprintf(stderr, "winrun: expected NAME=VALUE\n");
            return 255;
        }
        SetEnvironmentVariableW(pair.substr(0, eq).c_str(), pair.substr(eq + 1).c_str());
    }
    if (i + 1 >= argc) {
        std::fprintf(stderr, "usage: winrun [NAME=VALUE]... -- PROGRAM [ARG]...\n");
        return 255;
    }
    std::wstring commandLine;
    for (int k = i + 1; k < argc; ++k) {
        commandLine += (k > i + 1 ? L" " : L"") + quoteArgument(argv[k]);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    HANDLE token = elevated ? nullptr : limitedToken();
    const BOOL started =
        token != nullptr
            ? CreateProcessAsUserW(token, nullptr, commandLine.data(), nullptr, nullptr, inherit, 0,
                                   nullptr, nullptr, &startup, &process)
            : CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, inherit, 0, nullptr,
                             nullptr, &startup, &process);
    if (token != nullptr) {
        CloseHandle(token);
    }
    if (!started) {
        std::fprintf(stderr, "winrun: CreateProcess failed (%lu)\n", GetLastError());
        return 255;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    std::printf("exit=%lu\n", code);
    std::fflush(stdout);
    return static_cast<int>(code);
}
