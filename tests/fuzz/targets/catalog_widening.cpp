// The stored catalogues widened: one of the six as stored, cut, or with input bytes written over
// it, into a room of any size. Every field is a NUL-ended text in the room (or the empty text);
// a widening that says it is whole gives back each stored item exactly, and the stored texts
// widen whole into as many units as they have bytes.

#include "fuzz_support.h"
#include "ui/catalog_widening.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cwchar>
#include <vector>

namespace {

// UTF-16 back to UTF-8, written apart from the widening; false for a surrogate half alone.
bool narrowed(const wchar_t* units, std::u8string& text) {
    for (; *units != L'\0'; ++units) {
        char32_t c = static_cast<char32_t>(*units);
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c > 0xDBFF || units[1] < 0xDC00 || units[1] > 0xDFFF) {
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(*++units) - 0xDC00);
        }
        if (c < 0x80) {
            text += static_cast<char8_t>(c);
        } else if (c < 0x800) {
            text += static_cast<char8_t>(0xC0 | (c >> 6));
            text += static_cast<char8_t>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char8_t>(0xE0 | (c >> 12));
            text += static_cast<char8_t>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char8_t>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char8_t>(0xF0 | (c >> 18));
            text += static_cast<char8_t>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char8_t>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char8_t>(0x80 | (c & 0x3F));
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::u8string_view stored =
        kCatalogTexts[data.ConsumeIntegralInRange<std::size_t>(0, kCatalogCount - 1)];
    std::u8string text(stored);
    if (data.ConsumeBool()) {
        text.resize(data.ConsumeIntegralInRange<std::size_t>(0, text.size()));
    }
    if (data.ConsumeBool()) {
        const auto at = data.ConsumeIntegralInRange<std::size_t>(0, text.size());
        const auto patch =
            data.ConsumeBytes<char8_t>(data.ConsumeIntegralInRange<std::size_t>(0, 16));
        text.replace(at, std::min(patch.size(), text.size() - at),
                     std::u8string(patch.begin(), patch.end()));
    }
    std::vector<wchar_t> units(data.ConsumeIntegralInRange<std::size_t>(0, text.size() + 8));
    MessageCatalog catalog{};
    const bool whole = widenCatalog(text, units, catalog);
    FUZZ_CHECK(whole || text != stored || units.size() < text.size());

    std::u8string_view rest = text;
    for (const wchar_t* field :
         std::bit_cast<std::array<const wchar_t*, kCatalogItemCount>>(catalog)) {
        const wchar_t* end = units.data() + units.size();
        if (field >= units.data() && field < end) {
            FUZZ_CHECK(std::wmemchr(field, L'\0', end - field) != nullptr);
        } else {
            FUZZ_CHECK(*field == L'\0');
        }
        if (whole) {
            const std::u8string_view item = rest.substr(0, rest.find(u8'\0'));
            rest.remove_prefix(item.size() + 1);
            std::u8string back;
            FUZZ_CHECK(narrowed(field, back) && back == item);
        }
    }
    FUZZ_CHECK(!whole || rest.empty());
    return 0;
}
