#pragma once
// Cracking a URL into the parts the attempt opens; the rules on them are in url_policy.h.

#include "download/url_policy.h"

#include <windows.h>
#include <winhttp.h>

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t kHostNameCapacity = 256;
inline constexpr std::size_t kUrlPathCapacity = 2048;

// The parts of a URL that the attempt uses; fixed buffers, as WinHttpCrackUrl fills them.
struct CrackedUrl {
    INTERNET_SCHEME scheme = 0;
    INTERNET_PORT port = 0;
    wchar_t host[kHostNameCapacity] = {};
    wchar_t path[kUrlPathCapacity] = {};
};

// WinHttpCrackUrl asking for the host and the path only. On failure returns the system error,
// which includes a host or a path too long for its buffer; 0 on success.
[[nodiscard]] DWORD crackUrl(const std::wstring& url, CrackedUrl& parts);
