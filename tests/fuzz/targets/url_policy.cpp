// The URL and redirect rules for any scheme number and host: plain http is allowed only to the
// two names of this machine and follows no redirect; every other scheme but https is refused.

#include "download/url_policy.h"
#include "fuzz_support.h"

#include <cwctype>

namespace {

bool foldsTo(const std::wstring& host, const wchar_t* lower) {
    std::wstring folded = host;
    for (wchar_t& c : folded) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c + (L'a' - L'A'));
        }
    }
    return folded == lower;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const int scheme = data.ConsumeIntegralInRange(-1, 4);
    const std::wstring host = utf16Units(data, 300);
    const bool allowed = urlAllowed(scheme, host);
    if (scheme == kSchemeHttps) {
        FUZZ_CHECK(allowed);
        FUZZ_CHECK(redirectPolicyFor(scheme) == kRedirectDisallowHttpsToHttp);
    } else {
        FUZZ_CHECK(redirectPolicyFor(scheme) == kRedirectNever);
        FUZZ_CHECK(allowed == (scheme == kSchemeHttp &&
                               (foldsTo(host, L"localhost") || foldsTo(host, L"127.0.0.1"))));
    }
    return 0;
}
