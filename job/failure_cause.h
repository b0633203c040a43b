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
    ServerChanged,     // the server's answers disagree: the file changed under the download
    SecureChannel,     // no TLS channel: no common protocol or cipher, or a device breaking it
    InstallInProgress, // the installer's 1618: another installation runs, a Retry may do
};

// Bits of WINHTTP_CALLBACK_STATUS_FLAG_*, the flags of a secure failure: Windows fails the send
// with 12175 and reports them through the status callback; Wine sends no callback and fails
// with the error of the one check instead. Every bit but the channel error's is a fault of the
// certificate (its chain, name, revocation or use).
inline constexpr std::uint32_t kInvalidCertificate = 0x00000002;
inline constexpr std::uint32_t kInvalidCertificateAuthority = 0x00000008;
inline constexpr std::uint32_t kCertificateDateInvalid = 0x00000020;
inline constexpr std::uint32_t kSecurityChannelError = 0x80000000;

// WinHTTP's errors (winhttp.h), the system's (winerror.h) and one HTTP status, by number: no
// system header here. The download checks them against the headers.
inline constexpr std::uint32_t kErrorTimeout = 12002;
inline constexpr std::uint32_t kErrorNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorCannotConnect = 12029;
inline constexpr std::uint32_t kErrorConnectionError = 12030;
inline constexpr std::uint32_t kErrorSecureCertDateInvalid = 12037;
inline constexpr std::uint32_t kErrorSecureCertNameInvalid = 12038;
inline constexpr std::uint32_t kErrorClientCertificateNeeded = 12044;
inline constexpr std::uint32_t kErrorSecureInvalidCa = 12045;
inline constexpr std::uint32_t kErrorSecureCertRevFailed = 12057;
inline constexpr std::uint32_t kErrorSecureChannelError = 12157;
inline constexpr std::uint32_t kErrorSecureInvalidCert = 12169;
inline constexpr std::uint32_t kErrorSecureCertRevoked = 12170;
inline constexpr std::uint32_t kErrorSecureFailure = 12175;
inline constexpr std::uint32_t kErrorSecureCertWrongUsage = 12179;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorLockViolation = 33;
inline constexpr std::uint32_t kErrorVirusInfected = 225;
inline constexpr std::uint32_t kErrorVirusDeleted = 226;
inline constexpr std::uint32_t kErrorAppHelpBlock = 1259;
inline constexpr std::uint32_t kErrorDisabledByPolicy = 1260;
inline constexpr std::uint32_t kErrorInstallAlreadyRunning = 1618;
// App control (Smart App Control, App Control for Business) refusing a program: by its policy,
// by the image's hash, or by the file's reputation. Newer than mingw-w64's headers.
inline constexpr std::uint32_t kErrorInvalidImageHash = 577;
inline constexpr std::uint32_t kErrorSystemIntegrityPolicyViolation = 4551;
inline constexpr std::uint32_t kErrorSystemIntegrityReputationMalicious = 4556;
inline constexpr std::uint32_t kErrorSystemIntegrityReputationPua = 4557;
inline constexpr std::uint32_t kErrorSystemIntegrityReputationDangerousExt = 4558;
inline constexpr std::uint32_t kErrorSystemIntegrityReputationOffline = 4559;
inline constexpr std::uint32_t kErrorSystemIntegrityReputationUnfriendlyFile = 4580;
inline constexpr std::uint32_t kErrorSystemIntegrityReputationUnattainable = 4581;
inline constexpr std::uint32_t kErrorSystemIntegrityReputationExplicitDenyFile = 4582;
inline constexpr std::uint32_t kStatusProxyAuthenticationRequired = 407;

// serverFileChanged: the last attempt ended by emptying the file (SetupJob).
[[nodiscard]] FailureCause failureCause(std::int32_t result, std::uint32_t detail,
                                        std::uint32_t secureFailureFlags, bool serverFileChanged);

// The log's line for the cause (Portuguese, plain ASCII); null for Unknown.
[[nodiscard]] const wchar_t* failureCauseLogText(FailureCause cause);
