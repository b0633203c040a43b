// The native build's stand-in for the platform half of base/wide_format.h: the truncating wide
// formatter, with the Windows CRT's reading of the program's formats, and the strict UTF-8
// decoder. There "%s" and "%c" take wide arguments and "l" before an integer conversion means
// 32 bits; glibc reads "%s" as a narrow string and "%lu" as 64 bits, so the format is
// translated first.

#include "base/wide_format.h"

#include <clocale>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring glibcFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        out += *p;
        if (*p != L'%') {
            continue;
        }
        if (p[1] == L'%') {
            out += *++p;
            continue;
        }
        // Flags, width and precision pass unchanged.
        while (p[1] != L'\0' && std::wcschr(L"-+ #0123456789.*", p[1]) != nullptr) {
            out += *++p;
        }
        if (p[1] == L'l' && p[2] == L'l') {
            out += *++p;
            out += *++p;
        } else if (p[1] == L'l' && p[2] != L'\0' && std::wcschr(L"diuoxX", p[2]) != nullptr) {
            ++p; // long is 32 bits on Windows: the argument is an int
        } else if (p[1] == L's' || p[1] == L'c') {
            out += L'l';
        }
    }
    return out;
}

} // namespace

int truncatingWideFormat(wchar_t* buffer, std::size_t capacity, const wchar_t* format,
                         va_list args) {
    const std::wstring translated = glibcFormat(format);
    std::vector<wchar_t> whole(capacity + 64);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(whole.data(), whole.size(), translated.c_str(), copy);
        va_end(copy);
        if (n >= 0) {
            const std::size_t kept =
                static_cast<std::size_t>(n) < capacity ? static_cast<std::size_t>(n) : capacity - 1;
            std::wmemcpy(buffer, whole.data(), kept);
            buffer[kept] = L'\0';
            return static_cast<std::size_t>(n) < capacity ? n : -1;
        }
        // glibc reports a text too long for the room only as -1: try again with more room.
        if (whole.size() > (std::size_t{1} << 24)) {
            buffer[0] = L'\0';
            return -1;
        }
        whole.resize(whole.size() * 4);
    }
}

std::size_t widenUtf8(std::u8string_view text, wchar_t* units, std::size_t capacity) {
    // glibc's decoder under a UTF-8 locale, into wchar_t of 32 bits: the catalogues' items come
    // out whole, as the platform's would in UTF-16.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t previous = uselocale(utf8);
    std::mbstate_t state{};
    std::size_t written = 0;
    for (std::size_t at = 0; at < text.size(); ++written) {
        if (written == capacity) {
            written = 0;
            break;
        }
        const std::size_t length = std::mbrtowc(
            &units[written], reinterpret_cast<const char*>(&text[at]), text.size() - at, &state);
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2)) {
            written = 0;
            break;
        }
        at += length == 0 ? 1 : length; // a NUL is one byte
    }
    uselocale(previous);
    return written;
}
