// addroot CERT.pem|CERT.der...
// Adds test root certificates to the machine's Root store of the Wine prefix, so that Wine
// trusts them for HTTPS and for Authenticode alike.

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        std::fprintf(stderr, "addroot: CertOpenStore failed (%lu)\n", GetLastError());
        return 1;
    }
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::vector<char> text((std::istreambuf_iterator<char>(in)), {});
        std::vector<BYTE> der(text.begin(), text.end());
        DWORD size = 0;
        // PEM text is decoded; anything else is taken as DER.
        if (CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()),
                                 CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            der.resize(size);
            CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()),
                                 CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr);
        }
        if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                              static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
            std::fprintf(stderr, "addroot: %ls not added (%lu)\n", argv[i], GetLastError());
            ++failures;
        }
    }
    CertCloseStore(store, 0);
    return failures == 0 ? 0 : 1;
}
