#include "ui/catalog_widening.h"

#include "base/wide_format.h"

#include <array>
#include <bit>

bool widenCatalog(std::u8string_view text, std::span<wchar_t> units, MessageCatalog& catalog) {
    std::array<const wchar_t*, kCatalogItemCount> items;
    items.fill(L"");
    // The whole text, NULs and all, in one call of the platform's strict decoder.
    const std::size_t length = widenUtf8(text, units.data(), units.size());
    std::size_t item = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < length && item < items.size(); ++i) {
        if (units[i] == L'\0') {
            items[item++] = &units[first];
            first = i + 1;
        }
    }
    catalog = std::bit_cast<MessageCatalog>(items);
    return length > 0 && item == items.size() && first == length;
}
