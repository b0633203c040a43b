#include "download/proxy_rules.h"

namespace {

// For a typed password, strongest first.
constexpr std::uint32_t kTypedSchemes[] = {kSchemeNegotiate, kSchemeNtlm, kSchemeDigest,
                                           kSchemeBasic};

} // namespace

ProxyStep proxyStep(std::uint32_t offered, std::uint32_t target, ProxyTries tried, bool haveKept,
                    bool mayAsk, int prompts) {
    if (target != kTargetProxy) {
        return {ProxyAnswer::None, 0};
    }
    const std::uint32_t account =
        offered & kSchemeNegotiate ? kSchemeNegotiate : offered & kSchemeNtlm;
    if (account != 0 && !tried.account) {
        return {ProxyAnswer::Account, account};
    }
    std::uint32_t typed = 0;
    for (const std::uint32_t scheme : kTypedSchemes) {
        if (typed == 0 && (offered & scheme) != 0) {
            typed = scheme;
        }
    }
    if (typed == 0) {
        return {ProxyAnswer::None, 0};
    }
    if (haveKept && !tried.kept) {
        return {ProxyAnswer::Kept, typed};
    }
    if (mayAsk && prompts < kMaxProxyPrompts) {
        return {ProxyAnswer::Person, typed};
    }
    return {ProxyAnswer::None, 0};
}

const wchar_t* proxySchemeName(std::uint32_t scheme) {
    switch (scheme) {
    case kSchemeNegotiate:
        return L"Negotiate";
    case kSchemeNtlm:
        return L"NTLM";
    case kSchemeDigest:
        return L"Digest";
    default:
        return L"Basic";
    }
}
