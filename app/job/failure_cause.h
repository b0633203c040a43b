#pragma once
// What the user can do about a failure: read from the last attempt's code, its detail and,
// for TLS, the secure-failure flags. Plain values only: the failure texts and the run loop's
// log line both ask, and the native fuzz build compiles it too.

#include <cstdint>

enum class FailureCause {
    Unknown, // no advice beyond the code's own message
    NameNotResolved,
    NoConnection, // cannot connect, or the connection broke
    CertificateUntrusted,
    CertificateDates,
    ProxySignIn,
    ServerRefused,
    Antivirus,
    Policy,
    FileHeld,
};

// Bits of WINHTTP_CALLBACK_STATUS_FLAG_*, the flags of a secure failure: Windows fails the send
// with 12175 and reports them through the status callback; Wine sends no callback and fails
// with the error of the one check instead. Every bit but the channel error's is a fault of the
// certificate (its chain, name, revocation or use).
inline constexpr std::uint32_t kInvalidCertificate = 0x00000002;
inline constexpr std::uint32_t kInvalidCertificateAuthority = 0x00000008;
inline constexpr std::uint32_t kCertificateDateInvalid = 0x00000020;
inline constexpr std::uint32_t kSecurityChannelError = 0x80000000;

[[nodiscard]] FailureCause failureCause(std::int32_t result, std::uint32_t detail,
                                        std::uint32_t secureFailureFlags);

// The log's line for the cause (Portuguese, plain ASCII); null for Unknown.
[[nodiscard]] const wchar_t* failureCauseLogText(FailureCause cause);
