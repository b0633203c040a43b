// The failure dialog's texts for any outcome, catalogue and log path: every buffer ends within
// its capacity, the content always ends with the whole link to the full installer, and the
// details always end with the whole code text, however long the log path.

#include "build_config.h"
#include "fuzz_support.h"
#include "tests/unit/widened_catalogs.h"
#include "ui/failure_text.h"
#include "ui/message_catalog.h"

#include <cwchar>
#include <string>

namespace {

std::size_t lengthWithin(const wchar_t* text, std::size_t capacity) {
    const std::size_t length = std::wcslen(text);
    FUZZ_CHECK(length < capacity);
    return length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const MessageCatalog& catalog =
        widenedCatalog(data.ConsumeIntegralInRange<std::size_t>(0, kCatalogCount - 1));
    const FailureFacts facts{
        data.ConsumeIntegral<std::int32_t>(), data.ConsumeIntegral<std::uint32_t>(),
        data.ConsumeIntegral<std::int32_t>(), data.ConsumeIntegral<std::int64_t>(),
        data.ConsumeIntegral<std::uint32_t>()};
    const std::wstring logPath = headerText(data, 2 * kLogSentenceCapacity);

    FailureTexts texts;
    buildFailureTexts(catalog, facts, logPath.c_str(), texts);

    const std::size_t code = lengthWithin(texts.codeText, kCodeTextCapacity);
    FUZZ_CHECK(code > 0 && code <= 22);
    const std::wstring content(texts.content, lengthWithin(texts.content, kFailureTextCapacity));
    const std::wstring link = L"\n\n<a href=\"" SKYLOOM_FULL_INSTALLER_URL L"\">" +
                              std::wstring(catalog.fullInstallerLink) + L"</a>";
    FUZZ_CHECK(content.size() > link.size());
    FUZZ_CHECK(content.compare(content.size() - link.size(), link.size(), link) == 0);
    const std::size_t sentence = lengthWithin(texts.logSentence, kLogSentenceCapacity);
    const std::size_t details = lengthWithin(texts.details, kDetailsCapacity);
    // "sentence\n(code)": the longest sentence still leaves room for the whole code text.
    FUZZ_CHECK(details == sentence + code + 3);
    FUZZ_CHECK(std::wmemcmp(texts.details, texts.logSentence, sentence) == 0);
    FUZZ_CHECK(std::wmemcmp(texts.details + sentence + 2, texts.codeText, code) == 0);
    return 0;
}
