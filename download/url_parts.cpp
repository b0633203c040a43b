#include "download/url_parts.h"

static_assert(kSchemeHttp == INTERNET_SCHEME_HTTP && kSchemeHttps == INTERNET_SCHEME_HTTPS);
static_assert(kRedirectNever == WINHTTP_OPTION_REDIRECT_POLICY_NEVER &&
              kRedirectDisallowHttpsToHttp ==
                  WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP);

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
