#include "ui/message_catalog.h"

#include <windows.h>

namespace {

const MessageCatalog& catalogForPrimaryLanguage(LANGID uiLanguage) {
    switch (PRIMARYLANGID(uiLanguage)) {
    case LANG_GERMAN:
        return kCatalogs[4];
    case LANG_SPANISH:
        return kCatalogs[2];
    case LANG_FRENCH:
        return kCatalogs[3];
    case LANG_ITALIAN:
        return kCatalogs[5];
    case LANG_PORTUGUESE:
        return kCatalogs[1];
    default:
        return kCatalogs[0];
    }
}

} // namespace

const MessageCatalog& catalogFor(std::wstring_view languageRequest, LANGID uiLanguage) {
    if (!languageRequest.empty()) {
        for (const MessageCatalog& catalog : kCatalogs) {
            if (languageRequest == catalog.languageCode) {
                return catalog;
            }
        }
    }
    return catalogForPrimaryLanguage(uiLanguage);
}

const MessageCatalog& selectCatalog(std::wstring_view languageRequest) {
    return catalogFor(languageRequest, GetUserDefaultUILanguage());
}
