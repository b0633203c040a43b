#include "app/job/failure_cause.h"

#include "app/job/setup_result.h"

namespace {

using enum FailureCause;

// WinHTTP's errors (winhttp.h) and the system's (winerror.h), by number: no system header here.
constexpr std::uint32_t kTimeout = 12002;
constexpr std::uint32_t kNameNotResolved = 12007;
constexpr std::uint32_t kCannotConnect = 12029;
constexpr std::uint32_t kConnectionError = 12030;
constexpr std::uint32_t kSecureCertDateInvalid = 12037;
constexpr std::uint32_t kSecureCertNameInvalid = 12038;
constexpr std::uint32_t kSecureInvalidCa = 12045;
constexpr std::uint32_t kSecureCertRevFailed = 12057;
constexpr std::uint32_t kSecureChannelError = 12157;
constexpr std::uint32_t kSecureInvalidCert = 12169;
constexpr std::uint32_t kSecureCertRevoked = 12170;
constexpr std::uint32_t kSecureFailure = 12175;
constexpr std::uint32_t kSecureCertWrongUsage = 12179;
constexpr std::uint32_t kSharingViolation = 32;
constexpr std::uint32_t kLockViolation = 33;
constexpr std::uint32_t kVirusInfected = 225;
constexpr std::uint32_t kVirusDeleted = 226;
constexpr std::uint32_t kAppHelpBlock = 1259;
constexpr std::uint32_t kDisabledByPolicy = 1260;
constexpr std::uint32_t kProxyAuthenticationRequired = 407;

FailureCause tlsCause(std::uint32_t error, std::uint32_t flags) {
    switch (error) {
    case kSecureFailure:
        // A clock years off makes every certificate look out of date, and often its chain
        // unverifiable too: the clock is the thing to check first.
        if (flags & kCertificateDateInvalid) {
            return CertificateDates;
        }
        return flags & ~kSecurityChannelError ? CertificateUntrusted : Unknown;
    case kSecureCertDateInvalid:
        return CertificateDates;
    // Wine 8 fails an unknown root's handshake with the channel error, not with 12045.
    case kSecureChannelError:
    case kSecureInvalidCa:
    case kSecureCertNameInvalid:
    case kSecureCertRevFailed:
    case kSecureInvalidCert:
    case kSecureCertRevoked:
    case kSecureCertWrongUsage:
        return CertificateUntrusted;
    default:
        return Unknown;
    }
}

FailureCause networkCause(std::uint32_t error, std::uint32_t flags) {
    switch (error) {
    case kNameNotResolved:
        return NameNotResolved;
    case kCannotConnect:
    case kConnectionError:
    case kTimeout:
        return NoConnection;
    default:
        return tlsCause(error, flags);
    }
}

// Opening, checking, writing or starting the file: a system error.
FailureCause fileCause(std::uint32_t error) {
    switch (error) {
    case kVirusInfected:
    case kVirusDeleted:
        return Antivirus;
    case kDisabledByPolicy:
    case kAppHelpBlock:
        return Policy;
    case kSharingViolation:
    case kLockViolation:
        return FileHeld;
    default:
        return Unknown;
    }
}

// HRESULT_FROM_WIN32: the trust check reports what reading the file met this way.
constexpr std::uint32_t fromWin32(std::uint32_t error) {
    return 0x80070000u | error;
}

} // namespace

FailureCause failureCause(std::int32_t result, std::uint32_t detail,
                          std::uint32_t secureFailureFlags) {
    switch (static_cast<SetupResult>(result)) {
    case SetupResult::NetworkError:
        return networkCause(detail, secureFailureFlags);
    case SetupResult::TransferIncomplete:
        return NoConnection;
    case SetupResult::UnexpectedStatus:
        if (detail == kProxyAuthenticationRequired) {
            return ProxySignIn;
        }
        return detail >= 400 && detail <= 599 ? ServerRefused : Unknown;
    case SetupResult::SignatureInvalid:
        if (detail == fromWin32(kVirusInfected) || detail == fromWin32(kVirusDeleted)) {
            return Antivirus;
        }
        return Unknown;
    case SetupResult::LaunchFailed:
    case SetupResult::LocalError:
        return fileCause(detail);
    default:
        return Unknown;
    }
}

const wchar_t* failureCauseLogText(FailureCause cause) {
    switch (cause) {
    case NameNotResolved:
        return L"causa: o nome do servidor nao foi encontrado";
    case NoConnection:
        return L"causa: sem ligacao ao servidor, ou a ligacao caiu";
    case CertificateUntrusted:
        return L"causa: o certificado TLS nao e' de confianca (rede que intercepta ou raiz em "
               L"falta)";
    case CertificateDates:
        return L"causa: o certificado TLS esta' fora de validade: ver o relogio do computador";
    case ProxySignIn:
        return L"causa: o proxy pede autenticacao (407); nao se mandam credenciais";
    case ServerRefused:
        return L"causa: o servidor recusou o pedido";
    case Antivirus:
        return L"causa: um antivirus bloqueou ou removeu o ficheiro";
    case Policy:
        return L"causa: uma politica do sistema nao deixa correr o programa";
    case FileHeld:
        return L"causa: o ficheiro esta' ocupado por outro programa";
    case Unknown:
        break;
    }
    return nullptr;
}
