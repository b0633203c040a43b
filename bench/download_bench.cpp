// download_bench engine|bare URL FILE
// One timed download of URL into FILE: "engine" through downloadInstaller, "bare" through the
// least WinHTTP read loop that does the same job (same session options, 256 KiB reads, one
// WriteFile each). Prints "MODE ms=N bytes=N result=N"; the time excludes process start-up.
// Driven by bench/download_bench (see bench/README.md), not by the tests.

#include "app/setup_job.h"
#include "download/download_installer.h"
#include "log/diagnostic_log.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

long long nowMicroseconds() {
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return counter.QuadPart * 1'000'000 / frequency.QuadPart;
}

int engine(const std::wstring& url, const std::wstring& path, long long& bytes) {
    SetupJob job;
    job.urls = {url};
    job.installerPath = path;
    job.workFolder = path.substr(0, path.find_last_of(L'\\'));
    logPath = job.workFolder + L"\\download_bench.log";
    const SetupResult result = downloadInstaller(job);
    bytes = job.downloaded.load();
    return toInt(result);
}

int bare(const std::wstring& url, const std::wstring& path, long long& bytes) {
    wchar_t host[256] = {};
    wchar_t object[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = object;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        return -1;
    }
    HINTERNET session = WinHttpOpen(L"Skyloom-Setup/1.0", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    WinHttpSetTimeouts(session, 15000, 15000, 30000, 60000);
    HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
    HINTERNET request = WinHttpOpenRequest(
        connection, L"GET", object, nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    int result = -2;
    if (request != nullptr && file != INVALID_HANDLE_VALUE &&
        WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                           0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        const auto buffer = std::make_unique<std::byte[]>(262'144);
        DWORD read = 0;
        result = 0;
        while (WinHttpReadData(request, buffer.get(), 262'144, &read) && read > 0) {
            DWORD written = 0;
            if (!WriteFile(file, buffer.get(), read, &written, nullptr)) {
                result = -3;
                break;
            }
            bytes += read;
        }
    }
    CloseHandle(file);
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return result;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: download_bench engine|bare URL FILE\n");
        return 255;
    }
    const std::wstring mode = argv[1];
    DeleteFileW(argv[3]);
    long long bytes = 0;
    const long long start = nowMicroseconds();
    const int result =
        mode == L"engine" ? engine(argv[2], argv[3], bytes) : bare(argv[2], argv[3], bytes);
    const long long elapsed = nowMicroseconds() - start;
    FILETIME created{}, exited{}, kernel{}, user{};
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& t) {
        return static_cast<long long>(
            (ULARGE_INTEGER{{t.dwLowDateTime, t.dwHighDateTime}}.QuadPart) / 10'000);
    };
    std::printf("%ls ms=%lld bytes=%lld result=%d cpu_user_ms=%lld cpu_kernel_ms=%lld\n",
                mode.c_str(), elapsed / 1000, bytes, result, ms(user), ms(kernel));
    return 0;
}
