#include "ui/catalog_widening.h"
#include "ui/message_catalog.h"

#include <windows.h>

namespace {

std::size_t catalogIndexForPrimaryLanguage(LANGID uiLanguage) {
    switch (PRIMARYLANGID(uiLanguage)) {
    case LANG_GERMAN:
        return 4;
    case LANG_SPANISH:
        return 2;
    case LANG_FRENCH:
        return 3;
    case LANG_ITALIAN:
        return 5;
    case LANG_PORTUGUESE:
        return 1;
    default:
        return 0;
    }
}

// A catalogue's code is its first item, in ASCII.
bool isCodeOf(std::wstring_view request, std::u8string_view text) {
    std::size_t i = 0;
    for (; i < request.size(); ++i) {
        if (i == text.size() || text[i] == u8'\0' || request[i] != text[i]) {
            return false;
        }
    }
    return i < text.size() && text[i] == u8'\0';
}

} // namespace

std::size_t catalogIndexFor(std::wstring_view languageRequest, LANGID uiLanguage) {
    if (!languageRequest.empty()) {
        for (std::size_t i = 0; i < kCatalogTexts.size(); ++i) {
            if (isCodeOf(languageRequest, kCatalogTexts[i])) {
                return i;
            }
        }
    }
    return catalogIndexForPrimaryLanguage(uiLanguage);
}

const MessageCatalog& selectCatalog(std::wstring_view languageRequest) {
    static wchar_t units[kCatalogUnitCapacity];
    static MessageCatalog catalog;
    // The stored texts hold every item and fit (checked where they are compiled) and widen
    // whole (catalog_test); whatever happened, every field points at a NUL-ended text.
    static_cast<void>(
        widenCatalog(kCatalogTexts[catalogIndexFor(languageRequest, GetUserDefaultUILanguage())],
                     units, catalog));
    return catalog;
}
