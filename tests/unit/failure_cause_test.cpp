#include "job/failure_cause.h"

#include <gtest/gtest.h>

namespace {

using enum FailureCause;

struct CauseCase {
    std::int32_t result;
    std::uint32_t detail;
    std::uint32_t flags;
    FailureCause expected;
    bool restarted = false;
};

TEST(FailureCause, FromTheLastAttemptsCodeDetailAndTlsFlags) {
    const CauseCase cases[] = {
        {10, 12007, 0, NameNotResolved},
        {10, 12029, 0, NoConnection},
        {14, 0, 0, NoConnection},
        // The attempt ended by emptying the file: the server's answers did not fit together.
        {14, 206, 0, ServerChanged, true},
        {10, 12029, 0, NoConnection, true},
        // Windows: 12175, and the flags from the status callback; the clock before the chain.
        {10, 12175, kInvalidCertificateAuthority, CertificateUntrusted},
        {10, 12175, kCertificateDateInvalid, CertificateDates},
        {10, 12175, kCertificateDateInvalid | kInvalidCertificateAuthority, CertificateDates},
        {10, 12175, kSecurityChannelError, SecureChannel},
        {10, 12175, kSecurityChannelError | kInvalidCertificate, CertificateUntrusted},
        {10, 12175, 0, Unknown},
        // Wine: no callback, the error of the one check (12157 for an unknown root in Wine 8).
        {10, 12157, 0, SecureChannel},
        {10, 12045, 0, CertificateUntrusted},
        {10, 12038, 0, CertificateUntrusted},
        {10, 12037, 0, CertificateDates},
        // Flags go with 12175 only.
        {10, 12029, kCertificateDateInvalid, NoConnection},
        {10, 12152, kInvalidCertificate, Unknown},
        {12, 407, 0, ProxySignIn},
        {12, 400, 0, ServerRefused},
        {12, 599, 0, ServerRefused},
        {12, 600, 0, Unknown},
        {12, 0, 0, Unknown},
        // Opening, checking or starting the file.
        {50, 225, 0, Antivirus},
        {40, 226, 0, Antivirus},
        {20, 0x800700E2u, 0, Antivirus},
        {20, 0x800B0100u, 0, Unknown},
        {40, 1260, 0, Policy},
        {40, 1259, 0, Policy},
        // Codes beside app control's that are none of its refusals.
        {40, 4555, 0, Unknown},
        {40, 4583, 0, Unknown},
        {50, 32, 0, FileHeld},
        {50, 5, 0, Unknown},
        // An installer's exit code is no system error; its 1618 asks for a Retry.
        {41, 225, 0, Unknown},
        {41, 1260, 0, Unknown},
        {41, 1618, 0, InstallInProgress},
        {40, 1618, 0, Unknown},
    };
    for (const CauseCase& c : cases) {
        EXPECT_EQ(failureCause(c.result, c.detail, c.flags, c.restarted), c.expected)
            << c.result << "/" << c.detail << "/" << std::hex << c.flags;
    }
    // App control's refusals to start the installer: its policy, the image's hash, the file's
    // reputation.
    for (std::uint32_t code : {4551u, 577u, 4556u, 4557u, 4558u, 4559u, 4580u, 4581u, 4582u}) {
        EXPECT_EQ(failureCause(40, code, 0, false), Policy) << code;
    }
}

} // namespace
