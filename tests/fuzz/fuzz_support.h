#pragma once
// What the fuzz targets share: fuzz bytes read as UTF-16 code units (the program's text on
// Windows, whatever the width of wchar_t here), and a check that stops the run with a message.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Text as Windows holds it, code units up to 0xFFFF, surrogate halves included. Taken from
// the front of the input in order, so that seeds and dictionary words stay readable: either
// one byte per unit (mostly ASCII, where the numbers and keywords are) or two, little-endian.
inline std::wstring utf16Units(FuzzedDataProvider& data, std::size_t maxUnits) {
    const bool wide = data.ConsumeBool();
    const auto count = data.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
    const std::vector<std::uint8_t> raw = data.ConsumeBytes<std::uint8_t>(wide ? count * 2 : count);
    std::wstring text;
    if (wide) {
        for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
            text += static_cast<wchar_t>(raw[i] | (raw[i + 1] << 8));
        }
    } else {
        for (std::uint8_t b : raw) {
            text += static_cast<wchar_t>(b);
        }
    }
    return text;
}

// A header value as the query hands it over: cut to the buffer and terminated, never longer.
inline std::wstring headerText(FuzzedDataProvider& data, std::size_t capacity) {
    std::wstring text = utf16Units(data, capacity - 1);
    const std::size_t nul = text.find(L'\0');
    if (nul != std::wstring::npos) {
        text.resize(nul);
    }
    return text;
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
