#pragma once
// The six catalogues widened as start-up widens the one it chooses, each into units of its own.

#include "ui/catalog_widening.h"
#include "ui/message_catalog.h"

#include <array>

inline const MessageCatalog& widenedCatalog(std::size_t index) {
    static std::array<std::array<wchar_t, kCatalogUnitCapacity>, kCatalogCount> units;
    static std::array<MessageCatalog, kCatalogCount> catalogs;
    static std::array<bool, kCatalogCount> whole;
    if (!whole.at(index)) {
        whole[index] = widenCatalog(kCatalogTexts[index], units[index], catalogs[index]);
    }
    return catalogs[index];
}
