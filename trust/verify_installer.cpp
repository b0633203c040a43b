#include "trust/verify_installer.h"

#include "job/setup_job.h"
#include "base/file_security.h"
#include "base/open_in_folder.h"
#include "build_config.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"
#include "platform/system_library.h"
#include "trust/installer_version.h"
#include "trust/signer_identity.h"
#include "trust/trust_state.h"

#include <softpub.h>
#include <wincrypt.h>

#include <vector>

namespace {

// Read sharing only: from now until the handle is closed nobody can write, rename, replace or
// delete the file, so the file that is checked is the file that is started.
[[nodiscard]] SetupResult openForCheck(SetupJob& job) {
    // A scanner opens a freshly written executable with no sharing while it reads it. A link
    // in the file's place is refused, not followed.
    UniqueFile file;
    const DWORD opened = retryWhileHeld(HeldThing::File, job.installerPath.c_str(), [&] {
        return openPlainFileIn(job.workFolderHandle.get(), leafOf(job.installerPath), GENERIC_READ,
                               FILE_SHARE_READ, kOpenExisting, file);
    });
    if (opened != 0) {
        job.detail = opened;
        return SetupResult::LocalError;
    }
    job.verifiedFile = file.release();
    return SetupResult::Ok;
}

void readName(PCCERT_CONTEXT cert, const char* oid, wchar_t* buffer, DWORD capacity) {
    // An absent attribute leaves the zero-filled buffer empty; the count is not needed.
    (void)CertGetNameStringW(cert, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(oid), buffer,
                             capacity);
}

[[nodiscard]] SetupResult checkSigner(HANDLE stateData) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(stateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!hasSignerChain(provider, signer)) {
        logLine(L"sem cadeia de certificados");
        return SetupResult::SignerMismatch;
    }
    wchar_t organization[kOrganizationCapacity] = {};
    wchar_t country[kCountryCapacity] = {};
    wchar_t rootName[kRootNameCapacity] = {};
    const CRYPT_PROVIDER_CERT* chain = signer->pasCertChain;
    readName(chain[0].pCert, szOID_ORGANIZATION_NAME, organization, kOrganizationCapacity);
    readName(chain[0].pCert, szOID_COUNTRY_NAME, country, kCountryCapacity);
    readName(chain[signer->csCertChain - 1].pCert, szOID_COMMON_NAME, rootName, kRootNameCapacity);
    // Written before the comparison, so a refused signer can be seen in the log.
    logLine(L"assinatura valida: O=[%s] C=[%s] raiz=[%s]", organization, country, rootName);
    const int accepted = acceptedSigner(SKYLOOM_NEXT_SIGNERS, organization, country, rootName);
    if (accepted > 0) {
        logLine(L"aceite como assinante seguinte %d de SKYLOOM_NEXT_SIGNERS", accepted);
    }
    return accepted >= 0 ? SetupResult::Ok : SetupResult::SignerMismatch;
}

// Authenticode with revocation over the whole chain but the root, and no user interface.
[[nodiscard]] SetupResult checkSignature(SetupJob& job) {
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = job.installerPath.c_str();
    file.hFile = job.verifiedFile;
    file.pgKnownSubject = nullptr;

    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;

    GUID action = kAuthenticodeAction;
    // Armed before the call: a failed check may still have left state behind.
    UniqueTrustState state(&data);
    const LONG status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    SetupResult r = SetupResult::Ok;
    if (status != 0) {
        job.detail = static_cast<std::uint32_t>(status);
        logLine(L"WinVerifyTrust: 0x%08lX", job.detail);
        r = trustStatusResult(job.detail);
    } else {
        r = checkSigner(data.hWVTStateData);
    }
    // Released before the version is read: the policy state never outlives the signature step.
    state.reset();
    return r;
}

[[nodiscard]] SetupResult checkVersion(const SetupJob& job) {
    const wchar_t* path = job.installerPath.c_str();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        logLine(L"sem versao no ficheiro");
        return SetupResult::VersionRejected;
    }
    std::vector<BYTE> block(size, 0);
    void* value = nullptr;
    UINT length = 0;
    const BOOL read = GetFileVersionInfoW(path, 0, size, block.data());
    const BOOL queried = read ? VerQueryValueW(block.data(), L"\\", &value, &length) : FALSE;
    if (!fixedInfoReadable(queried, value, length)) {
        logLine(L"a versao nao se le");
        return SetupResult::VersionRejected;
    }
    const InstallerVersion version = productVersionOf(*static_cast<VS_FIXEDFILEINFO*>(value));
    logLine(L"versao do instalador: %u.%u.%u.%u", static_cast<unsigned>(version.major),
            static_cast<unsigned>(version.minor), static_cast<unsigned>(version.build),
            static_cast<unsigned>(version.revision));
    return versionAccepted(version) ? SetupResult::Ok : SetupResult::VersionRejected;
}

} // namespace

SetupResult verifyInstaller(SetupJob& job) {
    job.phase.store(JobPhase::Verifying);
    if (const DWORD error = loadSystemLibraries({L"wintrust.dll", L"crypt32.dll", L"version.dll"});
        error != 0) {
        job.detail = error;
        return SetupResult::LocalError;
    }
    if (const SetupResult opened = openForCheck(job); opened != SetupResult::Ok) {
        return opened;
    }
    if (const SetupResult signed_ = checkSignature(job); signed_ != SetupResult::Ok) {
        return signed_;
    }
    return checkVersion(job);
}
