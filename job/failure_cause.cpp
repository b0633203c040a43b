#include "job/failure_cause.h"

#include "job/setup_result.h"

namespace {

using enum FailureCause;

FailureCause tlsCause(std::uint32_t error, std::uint32_t flags) {
    switch (error) {
    case kErrorSecureFailure:
        // A clock years off makes every certificate look out of date, and often its chain
        // unverifiable too: the clock is the thing to check first.
        if (flags & kCertificateDateInvalid) {
            return CertificateDates;
        }
        if (flags & ~kSecurityChannelError) {
            return CertificateUntrusted;
        }
        return flags == kSecurityChannelError ? SecureChannel : Unknown;
    case kErrorSecureCertDateInvalid:
        return CertificateDates;
    // No channel at all: no protocol or cipher in common, or something in between that breaks
    // the handshake. (Wine 8 also fails an unknown root's handshake this way.)
    case kErrorSecureChannelError:
        return SecureChannel;
    case kErrorSecureInvalidCa:
    case kErrorSecureCertNameInvalid:
    case kErrorSecureCertRevFailed:
    case kErrorSecureInvalidCert:
    case kErrorSecureCertRevoked:
    case kErrorSecureCertWrongUsage:
        return CertificateUntrusted;
    default:
        return Unknown;
    }
}

FailureCause networkCause(std::uint32_t error, std::uint32_t flags) {
    switch (error) {
    case kErrorNameNotResolved:
        return NameNotResolved;
    case kErrorCannotConnect:
    case kErrorConnectionError:
    case kErrorTimeout:
        return NoConnection;
    default:
        return tlsCause(error, flags);
    }
}

// Opening, checking, writing or starting the file: a system error.
FailureCause fileCause(std::uint32_t error) {
    switch (error) {
    case kErrorVirusInfected:
    case kErrorVirusDeleted:
        return Antivirus;
    case kErrorDisabledByPolicy:
    case kErrorAppHelpBlock:
    case kErrorInvalidImageHash:
    case kErrorSystemIntegrityPolicyViolation:
    case kErrorSystemIntegrityReputationMalicious:
    case kErrorSystemIntegrityReputationPua:
    case kErrorSystemIntegrityReputationDangerousExt:
    case kErrorSystemIntegrityReputationOffline:
    case kErrorSystemIntegrityReputationUnfriendlyFile:
    case kErrorSystemIntegrityReputationUnattainable:
    case kErrorSystemIntegrityReputationExplicitDenyFile:
        return Policy;
    case kErrorSharingViolation:
    case kErrorLockViolation:
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
                          std::uint32_t secureFailureFlags, bool serverFileChanged) {
    switch (static_cast<SetupResult>(result)) {
    case SetupResult::NetworkError:
        return networkCause(detail, secureFailureFlags);
    case SetupResult::TransferIncomplete:
        // A changed total, an odd Content-Range or a 416 that proves nothing: the file changed
        // on the server, and the connection is fine.
        return serverFileChanged ? ServerChanged : NoConnection;
    case SetupResult::UnexpectedStatus:
        if (detail == kStatusProxyAuthenticationRequired) {
            return ProxySignIn;
        }
        return detail >= 400 && detail <= 599 ? ServerRefused : Unknown;
    case SetupResult::SignatureInvalid:
        if (detail == fromWin32(kErrorVirusInfected) || detail == fromWin32(kErrorVirusDeleted)) {
            return Antivirus;
        }
        return Unknown;
    case SetupResult::LaunchFailed:
    case SetupResult::LocalError:
        return fileCause(detail);
    case SetupResult::InstallerFailed:
        // The installer's own code: only 1618 says what to do.
        return detail == kErrorInstallAlreadyRunning ? InstallInProgress : Unknown;
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
        return L"causa: o proxy pede autenticacao (407)";
    case ServerRefused:
        return L"causa: o servidor recusou o pedido";
    case Antivirus:
        return L"causa: um antivirus bloqueou ou removeu o ficheiro";
    case Policy:
        return L"causa: uma politica do sistema nao deixa correr o programa";
    case FileHeld:
        return L"causa: o ficheiro esta' ocupado por outro programa";
    case ServerChanged:
        return L"causa: as respostas do servidor nao batem certo: o ficheiro mudou no servidor";
    case SecureChannel:
        return L"causa: a ligacao segura nao se estabeleceu (sem protocolo comum, ou algo na rede "
               L"a corta)";
    case InstallInProgress: // the launch's own line says it
    case Unknown:
        break;
    }
    return nullptr;
}
