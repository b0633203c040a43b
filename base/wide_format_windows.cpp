#include "base/wide_format.h"

#include <windows.h>

#include <stdio.h>

int truncatingWideFormat(wchar_t* buffer, std::size_t capacity, const wchar_t* format,
                         va_list args) {
    // The CRT's own wide formatter: "%s" is a wide string there, and _TRUNCATE cuts instead of
    // failing when the text is too long.
    return _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
}

std::size_t widenUtf8(std::u8string_view text, wchar_t* units, std::size_t capacity) {
    const int written = MultiByteToWideChar(
        CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(text.data()),
        static_cast<int>(text.size()), units, static_cast<int>(capacity));
    return written > 0 ? static_cast<std::size_t>(written) : 0;
}
