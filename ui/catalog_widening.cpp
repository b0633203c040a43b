#include "ui/catalog_widening.h"

#include <array>
#include <bit>

namespace {

struct CodePoint {
    char32_t value;
    std::size_t length; // bytes; 0 for a sequence that is not well-formed
};

// RFC 3629: no overlong form, no surrogate, nothing above U+10FFFF.
CodePoint decodeAt(std::u8string_view text, std::size_t at) {
    const unsigned lead = text[at];
    if (lead < 0x80) {
        return {lead, 1};
    }
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() - at < length) {
        return {0, 0};
    }
    char32_t value = lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned next = text[at + i];
        if ((next & 0xC0) != 0x80) {
            return {0, 0};
        }
        value = (value << 6) | (next & 0x3F);
    }
    constexpr std::array<char32_t, 5> kLeast = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kLeast[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return {0, 0};
    }
    return {value, length};
}

} // namespace

bool widenCatalog(std::u8string_view text, std::span<wchar_t> units, MessageCatalog& catalog) {
    std::array<const wchar_t*, kCatalogItemCount> items;
    items.fill(L"");
    std::size_t at = 0;
    std::size_t used = 0;
    bool whole = true;
    for (std::size_t item = 0; item < items.size() && whole; ++item) {
        const std::size_t first = used;
        while (whole) {
            if (at == text.size()) {
                whole = false; // the item has no NUL: too few items
                break;
            }
            if (text[at] == u8'\0') {
                if (used == units.size()) {
                    whole = false;
                    break;
                }
                units[used++] = L'\0';
                ++at;
                items[item] = &units[first];
                break;
            }
            const CodePoint point = decodeAt(text, at);
            const std::size_t needed = point.value > 0xFFFF ? 2 : 1;
            // Room for the units and the item's NUL.
            if (point.length == 0 || units.size() - used <= needed) {
                whole = false;
                break;
            }
            if (needed == 2) {
                units[used++] = static_cast<wchar_t>(0xD800 + ((point.value - 0x10000) >> 10));
                units[used++] = static_cast<wchar_t>(0xDC00 + ((point.value - 0x10000) & 0x3FF));
            } else {
                units[used++] = static_cast<wchar_t>(point.value);
            }
            at += point.length;
        }
    }
    catalog = std::bit_cast<MessageCatalog>(items);
    return whole && at == text.size();
}
