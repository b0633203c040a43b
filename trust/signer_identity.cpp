#include "trust/signer_identity.h"

SetupResult trustStatusResult(std::uint32_t status) {
    return status == static_cast<std::uint32_t>(CERT_E_REVOCATION_FAILURE)
               ? SetupResult::NetworkError
               : SetupResult::SignatureInvalid;
}

bool hasSignerChain(const CRYPT_PROVIDER_DATA* provider, const CRYPT_PROVIDER_SGNR* signer) {
    return provider != nullptr && signer != nullptr && signer->csCertChain >= 2 &&
           signer->pasCertChain != nullptr;
}

bool signerMatches(std::wstring_view organization, std::wstring_view country,
                   std::wstring_view rootName) {
    return organization == expectedSignerOrganization && country == expectedSignerCountry &&
           rootName.substr(0, expectedRootName.size()) == expectedRootName;
}
