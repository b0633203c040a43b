#include "download/url_policy.h"

namespace {

// ASCII folding only: a locale's or Unicode's case rules could make another name (with a
// long s, say) equal to "localhost".
bool equalsAsciiNoCase(std::wstring_view text, std::wstring_view lowerAscii) {
    if (text.size() != lowerAscii.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != lowerAscii[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

DWORD crackUrl(const std::wstring& url, CrackedUrl& parts) {
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof components;
    components.lpszHostName = parts.host;
    components.dwHostNameLength = static_cast<DWORD>(kHostNameCapacity);
    components.lpszUrlPath = parts.path;
    components.dwUrlPathLength = static_cast<DWORD>(kUrlPathCapacity);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &components)) {
        const DWORD error = GetLastError();
        // A failure with no code of its own must still refuse the URL.
        return error != 0 ? error : ERROR_INVALID_PARAMETER;
    }
    parts.scheme = components.nScheme;
    parts.port = components.nPort;
    return 0;
}

bool urlAllowed(INTERNET_SCHEME scheme, std::wstring_view host) {
    if (scheme == INTERNET_SCHEME_HTTPS) {
        return true;
    }
    return scheme == INTERNET_SCHEME_HTTP &&
           (equalsAsciiNoCase(host, L"localhost") || equalsAsciiNoCase(host, L"127.0.0.1"));
}
