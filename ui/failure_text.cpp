#include "ui/failure_text.h"

#include "job/failure_cause.h"
#include "job/result_codes.h"
#include "base/wide_format.h"
#include "build_config.h"
#include "ui/message_catalog.h"

#include <cstring>
#include <cwchar>

namespace {

// Copies a fixed text the way formatting cuts one, without reading it as a format: a '%' in
// a translation must stay a '%'.
std::size_t copyText(wchar_t* buffer, std::size_t capacity, const wchar_t* text) {
    return formatWide(buffer, capacity, L"%s", text);
}

// The result table says which message explains each code; codes it does not know, and those
// that never reach the dialog, get the generic one.
FailureMessage messageKind(std::int32_t result) {
    return resultInfo(static_cast<SetupResult>(result)).message;
}

const wchar_t* messageText(const MessageCatalog& catalog, FailureMessage kind) {
    switch (kind) {
    case FailureMessage::DownloadFailed:
        return catalog.downloadFailedText;
    case FailureMessage::ServerBusy:
        return catalog.serverBusyFormat;
    case FailureMessage::InvalidInstaller:
        return catalog.invalidInstallerText;
    case FailureMessage::DiskSpace:
        return catalog.diskSpaceFormat;
    case FailureMessage::InstallFailed:
        return catalog.installFailedFormat;
    case FailureMessage::NotShown:
    case FailureMessage::Generic:
        break;
    }
    return catalog.genericFailureFormat;
}

const wchar_t* adviceText(const MessageCatalog& catalog, FailureCause cause) {
    switch (cause) {
    case FailureCause::NameNotResolved:
        return catalog.nameNotResolvedAdvice;
    case FailureCause::NoConnection:
        return catalog.noConnectionAdvice;
    case FailureCause::CertificateUntrusted:
        return catalog.certificateUntrustedAdvice;
    case FailureCause::CertificateDates:
        return catalog.certificateDatesAdvice;
    case FailureCause::ProxySignIn:
        return catalog.proxySignInAdvice;
    case FailureCause::ServerRefused:
        return catalog.serverRefusedAdvice;
    case FailureCause::Antivirus:
        return catalog.antivirusAdvice;
    case FailureCause::Policy:
        return catalog.policyAdvice;
    case FailureCause::FileHeld:
        return catalog.fileHeldAdvice;
    case FailureCause::ServerChanged:
        return catalog.serverChangedAdvice;
    case FailureCause::SecureChannel:
        return catalog.secureChannelAdvice;
    case FailureCause::InstallInProgress:
        return catalog.installInProgressAdvice;
    case FailureCause::Unknown:
        break;
    }
    return nullptr;
}

// Appends "before" + text + "after" only when all of it fits: half a sentence or half a link
// would be worse than none.
std::size_t appendWhole(wchar_t* buffer, std::size_t capacity, std::size_t used,
                        const wchar_t* before, const wchar_t* text, const wchar_t* after) {
    const std::size_t length = std::wcslen(before) + std::wcslen(text) + std::wcslen(after);
    if (used + length >= capacity) {
        return used;
    }
    return used + formatWide(buffer + used, capacity - used, L"%s%s%s", before, text, after);
}

} // namespace

const wchar_t* failureMessageFor(const MessageCatalog& catalog, std::int32_t result) {
    return messageText(catalog, messageKind(result));
}

void buildFailureTexts(const MessageCatalog& catalog, const FailureFacts& facts,
                       const wchar_t* logPath, FailureTexts& texts) {
    std::memset(&texts, 0, sizeof texts);
    // "%lX" is 32 bits in the Windows runtime, as detail is.
    formatWide(texts.codeText, L"%d/0x%08lX", facts.result, facts.detail);

    const FailureMessage kind = messageKind(facts.result);
    std::size_t used = 0;
    const wchar_t* message = messageText(catalog, kind);
    switch (kind) {
    case FailureMessage::ServerBusy:
        used = formatWide(texts.content, message, facts.retryMinutes);
        break;
    case FailureMessage::DiskSpace:
        used = formatWide(texts.content, message, static_cast<long long>(facts.neededMegabytes));
        break;
    case FailureMessage::InstallFailed:
        // The installer's exit code is shown as Windows reports it to the user: signed.
        used = formatWide(texts.content, message, static_cast<std::int32_t>(facts.detail));
        break;
    case FailureMessage::NotShown:
    case FailureMessage::Generic:
        used = formatWide(texts.content, message, texts.codeText);
        break;
    case FailureMessage::DownloadFailed:
    case FailureMessage::InvalidInstaller:
        used = copyText(texts.content, kFailureTextCapacity, message);
        break;
    }
    const FailureCause cause =
        failureCause(facts.result, facts.detail, facts.secureFailureFlags, facts.serverFileChanged);
    if (const wchar_t* advice = adviceText(catalog, cause)) {
        used = appendWhole(texts.content, kFailureTextCapacity, used, L" ", advice, L"");
    }
    if (facts.addressAsText) {
        // Shown without TDF_ENABLE_HYPERLINKS, where any markup would show as it is.
        (void)appendWhole(texts.content, kFailureTextCapacity, used, L"\n\n",
                          catalog.fullInstallerLink, L": " SKYLOOM_FULL_INSTALLER_URL);
    } else {
        // The link's address is the built-in one, and a click opens that whatever the markup
        // says (ui/full_installer_link.h); the markup names it as Windows' task dialog documents
        // links.
        (void)appendWhole(texts.content, kFailureTextCapacity, used,
                          L"\n\n<a href=\"" SKYLOOM_FULL_INSTALLER_URL L"\">",
                          catalog.fullInstallerLink, L"</a>");
    }

    formatWide(texts.logSentence, catalog.logLocationFormat, logPath ? logPath : L"");
    formatWide(texts.details, L"%s\n(%s)", texts.logSentence, texts.codeText);
}
