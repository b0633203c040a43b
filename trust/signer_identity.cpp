#include "trust/signer_identity.h"

#include <algorithm>

SetupResult trustStatusResult(std::uint32_t status) {
    return status == static_cast<std::uint32_t>(CERT_E_REVOCATION_FAILURE)
               ? SetupResult::NetworkError
               : SetupResult::SignatureInvalid;
}

bool hasSignerChain(const CRYPT_PROVIDER_DATA* provider, const CRYPT_PROVIDER_SGNR* signer) {
    return provider != nullptr && signer != nullptr && signer->csCertChain >= 2 &&
           signer->pasCertChain != nullptr;
}

namespace {

struct SignerNames {
    std::wstring_view organization;
    std::wstring_view country;
    std::wstring_view rootName; // the whole name, or an accepted signer's prefix
};

// An empty prefix would take any root.
bool matches(const SignerNames& accepted, const SignerNames& seen) {
    return !accepted.rootName.empty() && seen.organization == accepted.organization &&
           seen.country == accepted.country && seen.rootName.starts_with(accepted.rootName);
}

// The text of `rest` up to `separator`, which is taken off `rest` with it. No substr: the
// shipped runtime has no std::out_of_range.
std::wstring_view takeUntil(std::wstring_view& rest, wchar_t separator) {
    const std::size_t end = std::min(rest.find(separator), rest.size());
    const std::wstring_view taken(rest.data(), end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    return taken;
}

} // namespace

int acceptedSigner(std::wstring_view nextSigners, std::wstring_view organization,
                   std::wstring_view country, std::wstring_view rootName) {
    const SignerNames seen{organization, country, rootName};
    if (matches({expectedSignerOrganization, expectedSignerCountry, expectedRootName}, seen)) {
        return 0;
    }
    for (int index = 1; !nextSigners.empty(); ++index) {
        std::wstring_view entry = takeUntil(nextSigners, L';');
        SignerNames accepted;
        accepted.organization = takeUntil(entry, L'|');
        accepted.country = takeUntil(entry, L'|');
        accepted.rootName = entry;
        if (matches(accepted, seen)) {
            return index;
        }
    }
    return -1;
}
