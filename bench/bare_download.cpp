// bare_download URL FILE [--version-api]
// bare_download --hold
// The platform's own cost of what Skyloom-Setup does with --sem-janela --sem-executar: the least
// WinHTTP read loop (the same session options, 256 KiB reads, one WriteFile each), then one
// WinVerifyTrust with the same settings on the same file, and nothing else. A window program
// like the product, so that Wine starts no console host for it; bench/run times the whole
// process from outside. Prints "result=N bytes=N download_ms=N verify_ms=N version_ms=N
// trust=0xN". --version-api reads the product version afterwards with the same version API
// calls as the product, to show what they cost on their own.
// --hold attaches to the desktop and stays until its standard input closes: Wine starts a
// desktop process for the first program that needs one and ends it a few seconds after the
// last one left, so without a holder whether a run pays for that start depends on the run
// before it. On Windows the desktop is always there.

#include <windows.h>

#include <softpub.h>
#include <wintrust.h>
#include <winhttp.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr DWORD kChunk = 262'144;

double nowMilliseconds() {
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int download(const wchar_t* url, const wchar_t* path, long long& bytes) {
    wchar_t host[256] = {};
    wchar_t object[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = object;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url, 0, 0, &parts)) {
        return 1;
    }
    HINTERNET session = WinHttpOpen(L"Skyloom-Setup/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    WinHttpSetTimeouts(session, 15000, 15000, 30000, 60000);
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                     sizeof redirectPolicy);
    HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
    HINTERNET request = WinHttpOpenRequest(
        connection, L"GET", object, nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    int result = 2;
    if (request != nullptr && file != INVALID_HANDLE_VALUE &&
        WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        const auto buffer = std::make_unique<std::byte[]>(kChunk);
        DWORD read = 0;
        result = 0;
        while (WinHttpReadData(request, buffer.get(), kChunk, &read) && read > 0) {
            DWORD written = 0;
            if (!WriteFile(file, buffer.get(), read, &written, nullptr) || written != read) {
                result = 3;
                break;
            }
            bytes += read;
        }
    }
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return result;
}

// The same policy settings as the product's check: revocation over the chain but the root.
LONG verify(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return status;
}

// The product's calls for the version: size, block, root record.
bool readVersion(const wchar_t* path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        return false;
    }
    const auto block = std::make_unique<BYTE[]>(size);
    void* value = nullptr;
    UINT length = 0;
    return GetFileVersionInfoW(path, 0, size, block.get()) &&
           VerQueryValueW(block.get(), L"\\", &value, &length) && value != nullptr &&
           length >= sizeof(VS_FIXEDFILEINFO);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"--hold") {
        (void)GetSystemMetrics(SM_CXICON);
        char byte = 0;
        DWORD read = 0;
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read > 0) {
        }
        return 0;
    }
    const bool withVersion = argc == 4 && std::wstring(argv[3]) == L"--version-api";
    if (argc != 3 && !withVersion) {
        std::fprintf(stderr, "usage: bare_download URL FILE [--version-api] | --hold\n");
        return 255;
    }
    long long bytes = 0;
    const double start = nowMilliseconds();
    int result = download(argv[1], argv[2], bytes);
    const double downloaded = nowMilliseconds();
    const LONG trust = result == 0 ? verify(argv[2]) : -1;
    const double verified = nowMilliseconds();
    if (result == 0 && trust != 0) {
        result = 4;
    }
    if (result == 0 && withVersion && !readVersion(argv[2])) {
        result = 5;
    }
    const double versioned = nowMilliseconds();
    DeleteFileW(argv[2]);
    std::printf("result=%d bytes=%lld download_ms=%.1f verify_ms=%.1f version_ms=%.1f "
                "trust=0x%08lX\n",
                result, bytes, downloaded - start, verified - downloaded, versioned - verified,
                static_cast<unsigned long>(trust));
    std::fflush(stdout);
    return result;
}
