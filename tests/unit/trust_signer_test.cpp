#include "trust/signer_identity.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kRoot = L"Microsoft Identity Verification Root Certificate Authority";

// Two next signers as the build writes them.
const std::wstring kNext =
    L"Next Signer, S.A.|IE|Next Signing Root CA;Other Signer|PT|Other Signing Root";

TEST(AcceptedSigner, WholeNamesForSignerPrefixForRoot) {
    struct Case {
        const wchar_t* why;
        std::wstring organization;
        std::wstring country;
        std::wstring root;
        bool expected;
    };
    const Case cases[] = {
        {L"root exactly the pinned name", L"QUORVANE, LDA", L"PT", kRoot, true},
        {L"root with a year after it", L"QUORVANE, LDA", L"PT", kRoot + L" 2020", true},
        {L"root continued without a blank", L"QUORVANE, LDA", L"PT", kRoot + L"X", true},
        {L"root one character short", L"QUORVANE, LDA", L"PT", kRoot.substr(0, 57), false},
        {L"root empty", L"QUORVANE, LDA", L"PT", L"", false},
        {L"root in other case", L"QUORVANE, LDA", L"PT",
         L"Microsoft Identity Verification Root Certificate authority 2020", false},
        {L"root with the name later in it", L"QUORVANE, LDA", L"PT", L"X " + kRoot, false},
        {L"organisation in other case", L"Quorvane, Lda", L"PT", kRoot, false},
        {L"organisation with a trailing blank", L"QUORVANE, LDA ", L"PT", kRoot, false},
        {L"organisation with a leading blank", L" QUORVANE, LDA", L"PT", kRoot, false},
        {L"organisation only a prefix", L"QUORVANE", L"PT", kRoot, false},
        {L"organisation absent", L"", L"PT", kRoot, false},
        {L"organisation continued", L"QUORVANE, LDA.", L"PT", kRoot, false},
        {L"country other", L"QUORVANE, LDA", L"ES", kRoot, false},
        {L"country in other case", L"QUORVANE, LDA", L"pt", kRoot, false},
        {L"country continued", L"QUORVANE, LDA", L"PTX", kRoot, false},
        {L"country absent", L"QUORVANE, LDA", L"", kRoot, false},
    };
    // Next signers take nothing from the built-in one, and it nothing from them.
    for (const std::wstring& next : {std::wstring(), kNext}) {
        for (const Case& c : cases) {
            EXPECT_EQ(acceptedSigner(next, c.organization, c.country, c.root), c.expected ? 0 : -1)
                << c.why;
        }
    }
}

TEST(AcceptedSigner, EachNextSignerWholeWithItsOwnRoot) {
    const struct {
        std::wstring next, organization, country, root;
        int expected;
    } cases[] = {
        {kNext, L"Next Signer, S.A.", L"IE", L"Next Signing Root CA 2031", 1},
        {kNext, L"Other Signer", L"PT", L"Other Signing Root", 2},
        {kNext, L"Other Signer", L"PT", L"Other Signing Roo", -1},
        {L"", L"Next Signer, S.A.", L"IE", L"Next Signing Root CA", -1},
        // Nothing mixes: names of one signer under another's root, or another's country.
        {kNext, L"Next Signer, S.A.", L"IE", kRoot, -1},
        {kNext, L"QUORVANE, LDA", L"PT", L"Next Signing Root CA", -1},
        {kNext, L"Next Signer, S.A.", L"PT", L"Next Signing Root CA", -1},
        {kNext, L"Next Signer, S.A.", L"IE", L"Other Signing Root", -1},
        // CMake refuses an entry without a prefix: it would take any root.
        {L"Next Signer|IE|", L"Next Signer", L"IE", L"Any Root", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(acceptedSigner(c.next, c.organization, c.country, c.root), c.expected)
            << c.organization << c.root;
    }
}

TEST(AcceptedSigner, PinnedValues) {
    EXPECT_EQ(expectedRootName.size(), 58u);
    EXPECT_EQ(std::wstring(expectedRootName), kRoot);
    EXPECT_EQ(std::wstring(expectedSignerOrganization), L"QUORVANE, LDA");
    EXPECT_EQ(std::wstring(expectedSignerCountry), L"PT");
}

TEST(TrustStatusResult, OnlyAnUnfinishedRevocationCheckIsANetworkError) {
    struct Case {
        std::uint32_t status;
        SetupResult expected;
    };
    const Case cases[] = {
        {0x800B010Eu, SetupResult::NetworkError},     // CERT_E_REVOCATION_FAILURE
        {0x800B010Cu, SetupResult::SignatureInvalid}, // CERT_E_REVOKED
        {0x80092013u, SetupResult::SignatureInvalid}, // CRYPT_E_REVOCATION_OFFLINE
        {0x800B0100u, SetupResult::SignatureInvalid}, // TRUST_E_NOSIGNATURE
        {0x80096010u, SetupResult::SignatureInvalid}, // TRUST_E_BAD_DIGEST
        {0x800B0109u, SetupResult::SignatureInvalid}, // CERT_E_UNTRUSTEDROOT
        {0x800B0101u, SetupResult::SignatureInvalid}, // CERT_E_EXPIRED
        {0x800B010Fu, SetupResult::SignatureInvalid}, // next to the revocation status
        {0x000B010Eu, SetupResult::SignatureInvalid}, // same low bits, no failure bit
        {0xFFFFFFFFu, SetupResult::SignatureInvalid},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trustStatusResult(c.status), c.expected) << std::hex << c.status;
    }
}

TEST(HasSignerChain, NeedsProviderSignerTwoCertificatesAndTheArray) {
    CRYPT_PROVIDER_DATA provider = {};
    CRYPT_PROVIDER_CERT certs[3] = {};
    struct Case {
        bool withProvider;
        bool withSigner;
        DWORD count;
        bool withArray;
        bool expected;
    };
    const Case cases[] = {
        {true, true, 2, true, true},   {true, true, 3, true, true},
        {true, true, 1, true, false},  {true, true, 0, true, false},
        {true, true, 2, false, false}, {false, true, 2, true, false},
        {true, false, 2, true, false}, {false, false, 0, false, false},
    };
    for (const Case& c : cases) {
        CRYPT_PROVIDER_SGNR signer = {};
        signer.csCertChain = c.count;
        signer.pasCertChain = c.withArray ? certs : nullptr;
        EXPECT_EQ(
            hasSignerChain(c.withProvider ? &provider : nullptr, c.withSigner ? &signer : nullptr),
            c.expected)
            << c.withProvider << c.withSigner << c.count << c.withArray;
    }
}

} // namespace
