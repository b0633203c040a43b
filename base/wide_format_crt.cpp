#include "base/wide_format.h"

#include <stdio.h>

int truncatingWideFormat(wchar_t* buffer, std::size_t capacity, const wchar_t* format,
                         va_list args) {
    // The CRT's own wide formatter: "%s" is a wide string there, and _TRUNCATE cuts instead of
    // failing when the text is too long.
    return _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
}
