#include "ui/failure_text.h"

#include "app/job/result_codes.h"
#include "base/wide_format.h"
#include "ui/message_catalog.h"

#include <cstring>

namespace {

// Copies a fixed text the way formatting cuts one, without reading it as a format: a '%' in
// a translation must stay a '%'.
void copyText(wchar_t* buffer, std::size_t capacity, const wchar_t* text) {
    formatWide(buffer, capacity, L"%s", text);
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
    const wchar_t* message = messageText(catalog, kind);
    switch (kind) {
    case FailureMessage::ServerBusy:
        formatWide(texts.content, message, facts.retryMinutes);
        break;
    case FailureMessage::DiskSpace:
        formatWide(texts.content, message, static_cast<long long>(facts.neededMegabytes));
        break;
    case FailureMessage::InstallFailed:
        // The installer's exit code is shown as Windows reports it to the user: signed.
        formatWide(texts.content, message, static_cast<std::int32_t>(facts.detail));
        break;
    case FailureMessage::NotShown:
    case FailureMessage::Generic:
        formatWide(texts.content, message, texts.codeText);
        break;
    case FailureMessage::DownloadFailed:
    case FailureMessage::InvalidInstaller:
        copyText(texts.content, kFailureTextCapacity, message);
        break;
    }

    formatWide(texts.logSentence, catalog.logLocationFormat, logPath ? logPath : L"");
    formatWide(texts.details, L"%s\n(%s)", texts.logSentence, texts.codeText);
}
