#pragma once
// The failure dialog's texts, built from plain values. No Windows header: the same code is
// built natively for fuzzing.

#include "job/setup_result.h"

#include <cstddef>
#include <cstdint>

struct MessageCatalog;

// Capacities in UTF-16 units, terminator included; a longer text is cut silently.
inline constexpr std::size_t kCodeTextCapacity = 64;
inline constexpr std::size_t kFailureTextCapacity = 1024;
inline constexpr std::size_t kLogSentenceCapacity = 1200;
inline constexpr std::size_t kDetailsCapacity = 1400;

// What the dialog explains: the job's outcome fields.
struct FailureFacts {
    std::int32_t result;
    std::uint32_t detail;
    std::int32_t retryMinutes;
    std::int64_t neededMegabytes;
    std::uint32_t secureFailureFlags = 0;
    bool serverFileChanged = false;
    // An elevated run: the full installer's address as plain text, never a link.
    bool addressAsText = false;
};

struct FailureTexts {
    wchar_t codeText[kCodeTextCapacity];
    wchar_t content[kFailureTextCapacity];
    wchar_t logSentence[kLogSentenceCapacity];
    wchar_t details[kDetailsCapacity];
};

// The catalogue text (a fixed text or a format) that explains the result.
[[nodiscard]] const wchar_t* failureMessageFor(const MessageCatalog& catalog, std::int32_t result);

// Fills all four buffers afresh; logPath may be null (then it counts as empty). The content is
// the message, the advice for the failure's cause and, as its last paragraph, the link to the
// full installer (or its text and address, as plain text); advice and link go in whole or not
// at all.
void buildFailureTexts(const MessageCatalog& catalog, const FailureFacts& facts,
                       const wchar_t* logPath, FailureTexts& texts);

// A busy server is a wait, not a fault: it gets the warning icon, everything else the error.
[[nodiscard]] constexpr bool failureIsWarning(std::int32_t result) {
    return result == toInt(SetupResult::ServerBusy);
}
