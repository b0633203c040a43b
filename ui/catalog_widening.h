#pragma once
// The stored catalogue (UTF-8) made into the UTF-16 the windows take.

#include "ui/message_catalog.h"

#include <span>
#include <string_view>

// Widens text (items in the order of MessageCatalog's fields, each ended by a NUL) into units
// and points each field of catalog at its item. False when text is not well-formed UTF-8, holds
// another number of items, or does not fit; every field then still points at a NUL-ended text,
// empty where no whole item was widened.
[[nodiscard]] bool widenCatalog(std::u8string_view text, std::span<wchar_t> units,
                                MessageCatalog& catalog);
