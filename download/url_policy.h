#pragma once
// Which URLs the download may open and which redirects it may follow: https anywhere, plain
// http only to this machine and never further. Plain values only, no system header.

#include <cstdint>
#include <string_view>

// WinHTTP's scheme numbers.
inline constexpr int kSchemeHttp = 1;
inline constexpr int kSchemeHttps = 2;

// WinHTTP's redirect policies.
inline constexpr std::uint32_t kRedirectNever = 0;
inline constexpr std::uint32_t kRedirectDisallowHttpsToHttp = 1;

// https (scheme 2) to any host; http (scheme 1) only to "localhost" or "127.0.0.1" in any
// letter case; any port. No other name of this machine counts, not even [::1].
[[nodiscard]] bool urlAllowed(int scheme, std::wstring_view host);

// A redirect would take a plain-http request to a host the rule above refuses, so plain http
// follows none (the 3xx is then an unexpected status); https follows redirects to https
// anywhere, as content networks need.
[[nodiscard]] std::uint32_t redirectPolicyFor(int scheme);
