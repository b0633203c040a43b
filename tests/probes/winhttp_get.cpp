// winhttp_get ACCESS URL [FROM]
// One GET through WinHTTP with the given session access type (0 default proxy, 1 no proxy,
// 4 automatic proxy), asking for the bytes from FROM on when given. Prints "status=N bytes=M"
// or "failed=STEP error=E". Shows which proxy settings this platform's WinHTTP takes for an
// access type, beside the bootstrapper, whose access type is fixed.

#include "base/handles.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

int failed(const char* step) {
    std::printf("failed=%s error=%lu\n", step, GetLastError());
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: winhttp_get ACCESS URL [FROM]\n");
        return 2;
    }
    const DWORD access = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    const std::wstring url = argv[2];
    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        return failed("crack");
    }
    UniqueInternet session(
        WinHttpOpen(L"winhttp_get", access, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return failed("open");
    }
    UniqueInternet connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
    if (!connection) {
        return failed("connect");
    }
    const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    UniqueInternet request(WinHttpOpenRequest(connection.get(), L"GET", path, nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              secure));
    if (!request) {
        return failed("request");
    }
    if (argc > 3) {
        const std::wstring range = std::wstring(L"Range: bytes=") + argv[3] + L"-";
        WinHttpAddRequestHeaders(request.get(), range.c_str(), static_cast<DWORD>(-1),
                                 WINHTTP_ADDREQ_FLAG_ADD);
    }
    if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, nullptr, 0, 0, 0)) {
        return failed("send");
    }
    if (!WinHttpReceiveResponse(request.get(), nullptr)) {
        return failed("receive");
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    std::vector<char> buffer(65536);
    unsigned long long total = 0;
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                             &read)) {
            return failed("read");
        }
        if (read == 0) {
            break;
        }
        total += read;
    }
    std::printf("status=%lu bytes=%llu\n", status, total);
    return 0;
}
