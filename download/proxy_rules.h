#pragma once
// Which answer a proxy's 407 gets: plain values, no system call.

#include <cstdint>

// WinHTTP's scheme bits and targets, by their documented values.
inline constexpr std::uint32_t kSchemeBasic = 0x1;
inline constexpr std::uint32_t kSchemeNtlm = 0x2;
inline constexpr std::uint32_t kSchemeDigest = 0x8;
inline constexpr std::uint32_t kSchemeNegotiate = 0x10;
inline constexpr std::uint32_t kTargetProxy = 0x1;

inline constexpr int kMaxProxyPrompts = 3;

enum class ProxyAnswer : std::uint8_t {
    None,    // the 407 stands
    Account, // the run's own logon
    Kept,    // the answer a person gave earlier in the run
    Person,  // the prompt, then its answer
};

struct ProxyStep {
    ProxyAnswer answer;
    std::uint32_t scheme;
};

// What one request has tried since its first 407.
struct ProxyTries {
    bool account = false;
    bool kept = false;
};

// offered and target: as WinHttpQueryAuthSchemes reports the 407. The logon goes with Negotiate
// or NTLM only, Negotiate first; a typed password with the strongest scheme offered, never
// Passport. mayAsk: a person can still be asked in this cycle.
[[nodiscard]] ProxyStep proxyStep(std::uint32_t offered, std::uint32_t target, ProxyTries tried,
                                  bool haveKept, bool mayAsk, int prompts);

// The scheme's name for the log.
[[nodiscard]] const wchar_t* proxySchemeName(std::uint32_t scheme);
