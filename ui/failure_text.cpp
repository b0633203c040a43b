#include "ui/failure_text.h"

#include "log/wide_format.h"
#include "ui/message_catalog.h"

#include <cstring>

namespace {

// Result codes as numbers: the codes are fixed forever, and this file stays free of the
// job record's Windows types.
enum : std::int32_t {
    kNetworkError = 10,
    kUnexpectedStatus = 12,
    kUnexpectedSize = 13,
    kTransferIncomplete = 14,
    kUrlRefused = 15,
    kSignatureInvalid = 20,
    kSignerMismatch = 21,
    kVersionRejected = 22,
    kNotEnoughSpace = 30,
    kInstallerFailed = 41,
};

// Copies a fixed text the way formatting cuts one, without reading it as a format: a '%' in
// a translation must stay a '%'.
void copyText(wchar_t* buffer, std::size_t capacity, const wchar_t* text) {
    formatWide(buffer, capacity, L"%s", text);
}

} // namespace

const wchar_t* failureMessageFor(const MessageCatalog& catalog, std::int32_t result) {
    switch (result) {
    case kNetworkError:
    case kUnexpectedStatus:
    case kTransferIncomplete:
    case kUrlRefused:
        return catalog.downloadFailedText;
    case kServerBusyResult:
        return catalog.serverBusyFormat;
    case kUnexpectedSize:
    case kSignatureInvalid:
    case kSignerMismatch:
    case kVersionRejected:
        return catalog.invalidInstallerText;
    case kNotEnoughSpace:
        return catalog.diskSpaceFormat;
    case kInstallerFailed:
        return catalog.installFailedFormat;
    default:
        return catalog.genericFailureFormat;
    }
}

void buildFailureTexts(const MessageCatalog& catalog, const FailureFacts& facts,
                       const wchar_t* logPath, FailureTexts& texts) {
    std::memset(&texts, 0, sizeof texts);
    // "%lX" is 32 bits in the Windows runtime, as detail is.
    formatWide(texts.codeText, L"%d/0x%08lX", facts.result, facts.detail);

    const wchar_t* message = failureMessageFor(catalog, facts.result);
    switch (facts.result) {
    case kServerBusyResult:
        formatWide(texts.content, message, facts.retryMinutes);
        break;
    case kNotEnoughSpace:
        formatWide(texts.content, message, static_cast<long long>(facts.neededMegabytes));
        break;
    case kInstallerFailed:
        // The installer's exit code is shown as Windows reports it to the user: signed.
        formatWide(texts.content, message, static_cast<std::int32_t>(facts.detail));
        break;
    default:
        if (message == catalog.genericFailureFormat) {
            formatWide(texts.content, message, texts.codeText);
        } else {
            copyText(texts.content, kFailureTextCapacity, message);
        }
        break;
    }

    formatWide(texts.logSentence, catalog.logLocationFormat, logPath ? logPath : L"");
    formatWide(texts.details, L"%s\n(%s)", texts.logSentence, texts.codeText);
}
