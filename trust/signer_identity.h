#pragma once
// Who must have signed the installer, and under which root: the decisions that need no
// system call.

#include "job/setup_result.h"

#include <windows.h>
#include <wintrust.h>

#include <cstdint>
#include <string_view>

inline constexpr std::wstring_view expectedSignerOrganization = L"QUORVANE, LDA";
inline constexpr std::wstring_view expectedSignerCountry = L"PT";
// The beginning of the root's common name; the roots carry a year or more after it.
inline constexpr std::wstring_view expectedRootName =
    L"Microsoft Identity Verification Root Certificate Authority";

// Capacities handed to CertGetNameStringW, in UTF-16 units including the terminator.
inline constexpr DWORD kOrganizationCapacity = 256;
inline constexpr DWORD kCountryCapacity = 16;
inline constexpr DWORD kRootNameCapacity = 256;

// The code for a non-zero WinVerifyTrust status: a revocation check that could not be
// completed is a network matter worth retrying; anything else condemns the file.
[[nodiscard]] SetupResult trustStatusResult(std::uint32_t status);

// A signer is usable only with a chain of at least the signing certificate and a root.
[[nodiscard]] bool hasSignerChain(const CRYPT_PROVIDER_DATA* provider,
                                  const CRYPT_PROVIDER_SGNR* signer);

// Which accepted signer has these names: 0 the built-in one, n the n-th entry of nextSigners
// ("organisation|country|root-name-prefix" entries joined by ';', as the build writes
// SKYLOOM_NEXT_SIGNERS), -1 none. Exact and case-sensitive for every signer: organisation and
// country as whole strings, the root name over the length of the signer's prefix only. An entry
// without all three fields matches nothing.
[[nodiscard]] int acceptedSigner(std::wstring_view nextSigners, std::wstring_view organization,
                                 std::wstring_view country, std::wstring_view rootName);
