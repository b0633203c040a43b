#include "download/url_policy.h"

#include <cstddef>

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

bool urlAllowed(int scheme, std::wstring_view host) {
    if (scheme == kSchemeHttps) {
        return true;
    }
    return scheme == kSchemeHttp &&
           (equalsAsciiNoCase(host, L"localhost") || equalsAsciiNoCase(host, L"127.0.0.1"));
}

std::uint32_t redirectPolicyFor(int scheme) {
    return scheme == kSchemeHttps ? kRedirectDisallowHttpsToHttp : kRedirectNever;
}
