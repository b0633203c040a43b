#pragma once
// Bounded wide formatting: the text is cut silently at the buffer's capacity and always ends
// with a terminator. "%s" takes a wide string in every format of this program.

#include <cstdarg>
#include <cstddef>
#include <string_view>

// The platform's truncating wide formatter, with the Windows CRT's meaning of every format:
// "%s" a wide string, "%lu" and "%lX" 32 bits. Writes at most capacity - 1 units and a
// terminator; returns the length, or -1 when the text was cut.
int truncatingWideFormat(wchar_t* buffer, std::size_t capacity, const wchar_t* format,
                         va_list args);

// The platform's strict UTF-8 decoder (MultiByteToWideChar with MB_ERR_INVALID_CHARS): the
// units written, NULs in the text included; 0 when the text is not well-formed UTF-8 or does not
// fit whole.
std::size_t widenUtf8(std::u8string_view text, wchar_t* units, std::size_t capacity);

// Returns the number of code units written, without the terminator.
std::size_t formatWideV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args);
std::size_t formatWide(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);

template <std::size_t N, typename... Args>
std::size_t formatWide(wchar_t (&buffer)[N], const wchar_t* format, Args... args) {
    return formatWide(buffer, N, format, args...);
}
