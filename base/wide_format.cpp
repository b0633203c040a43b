#include "base/wide_format.h"

#include <cwchar>

std::size_t formatWideV(wchar_t* buffer, std::size_t capacity, const wchar_t* format,
                        va_list args) {
    if (capacity == 0) {
        return 0;
    }
    buffer[0] = L'\0';
    const int written = truncatingWideFormat(buffer, capacity, format, args);
    std::size_t length = written >= 0 ? static_cast<std::size_t>(written) : std::wcslen(buffer);
    // A cut that falls between the two halves of a surrogate pair leaves half a character.
    if (written < 0 && length > 0 && buffer[length - 1] >= 0xD800 && buffer[length - 1] <= 0xDBFF) {
        buffer[--length] = L'\0';
    }
    return length;
}

std::size_t formatWide(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const std::size_t length = formatWideV(buffer, capacity, format, args);
    va_end(args);
    return length;
}
