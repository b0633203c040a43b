// The bounded formatting and the log line's cut: the program's own formats with any strings
// and numbers, into rooms of any size. The text is the whole text cut at the room, never a
// half surrogate pair at the cut, always terminated; a log line always ends with CR LF.

#include "base/wide_format.h"
#include "fuzz_support.h"
#include "log/log_line.h"

#include <cwchar>
#include <vector>

namespace {

struct Arguments {
    std::wstring s[4];
    std::uint32_t u[4];
    std::int32_t d;
    std::int64_t l[2];
};

// One format of the program per shape of its argument list.
std::size_t formatOne(int which, wchar_t* buffer, std::size_t capacity, const Arguments& a) {
    switch (which) {
    case 0:
        return formatWide(buffer, capacity, L"recusado (so' https): %s", a.s[0].c_str());
    case 1:
        return formatWide(buffer, capacity, L"%s -> HTTP %lu (a partir de %lld)", a.s[0].c_str(),
                          a.u[0], static_cast<long long>(a.l[0]));
    case 2:
        return formatWide(buffer, capacity, L"416 com [%s] e %lld no disco: recomeca do zero",
                          a.s[0].c_str(), static_cast<long long>(a.l[0]));
    case 3:
        return formatWide(buffer, capacity, L"a leitura parou aos %lld de %lld (%lu)",
                          static_cast<long long>(a.l[0]), static_cast<long long>(a.l[1]), a.u[0]);
    case 4:
        return formatWide(buffer, capacity, L"erro %d (detalhe %lu)", a.d, a.u[0]);
    case 5:
        return formatWide(buffer, capacity, L"nova tentativa (%d) em %s", a.d, a.s[0].c_str());
    case 6:
        return formatWide(buffer, capacity, L"WinVerifyTrust: 0x%08lX", a.u[0]);
    case 7:
        return formatWide(buffer, capacity, L"assinatura valida: O=[%s] C=[%s] raiz=[%s]",
                          a.s[0].c_str(), a.s[1].c_str(), a.s[2].c_str());
    case 8:
        return formatWide(buffer, capacity, L"=== Skyloom-Setup %s (lingua %s%s%s) ===",
                          a.s[0].c_str(), a.s[1].c_str(), a.s[2].c_str(), a.s[3].c_str());
    case 9:
        return formatWide(buffer, capacity, L"Range: bytes=%lld-", static_cast<long long>(a.l[0]));
    default:
        return formatWide(buffer, capacity, L"versao do instalador: %u.%u.%u.%u", a.u[0], a.u[1],
                          a.u[2], a.u[3]);
    }
}

bool highSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

std::wstring lineOf(const LogTime& time, const wchar_t* format, ...) {
    wchar_t line[kLogLineCapacity];
    va_list args;
    va_start(args, format);
    const std::size_t length = formatLogLine(line, time, format, args);
    va_end(args);
    FUZZ_CHECK(length < kLogLineCapacity && line[length] == L'\0');
    return std::wstring(line, length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const int which = data.ConsumeIntegralInRange(0, 11);
    const auto capacity = data.ConsumeIntegralInRange<std::size_t>(1, 2100);
    Arguments a{};
    for (auto& u : a.u) {
        u = data.ConsumeIntegral<std::uint32_t>();
    }
    a.d = data.ConsumeIntegral<std::int32_t>();
    a.l[0] = data.ConsumeIntegral<std::int64_t>();
    a.l[1] = data.ConsumeIntegral<std::int64_t>();
    for (auto& s : a.s) {
        s = headerText(data, data.ConsumeIntegralInRange<std::size_t>(1, 2500));
    }

    if (which == 11) {
        // A log line: any message, any clock reading the system can give.
        LogTime time{};
        time.year = data.ConsumeIntegral<std::uint16_t>();
        time.month = data.ConsumeIntegral<std::uint16_t>();
        time.day = data.ConsumeIntegral<std::uint16_t>();
        time.hour = data.ConsumeIntegral<std::uint16_t>();
        time.minute = data.ConsumeIntegral<std::uint16_t>();
        time.second = data.ConsumeIntegral<std::uint16_t>();
        time.milliseconds = data.ConsumeIntegral<std::uint16_t>();
        const std::wstring line = lineOf(time, L"recusado (so' https): %s", a.s[0].c_str());
        FUZZ_CHECK(line.size() >= 2 && line.compare(line.size() - 2, 2, L"\r\n") == 0);
        const std::wstring message = line.substr(0, line.size() - 2);
        FUZZ_CHECK(message.find(L"recusado") != std::wstring::npos || message.size() >= 2045);
        FUZZ_CHECK(message.empty() || !highSurrogate(message.back()) ||
                   message.size() < kLogLineCapacity - 3);
        return 0;
    }

    std::vector<wchar_t> whole(1 << 14);
    const std::size_t full = formatOne(which, whole.data(), whole.size(), a);
    FUZZ_CHECK(full < whole.size() && whole[full] == L'\0');

    std::vector<wchar_t> room(capacity + 1, L'#');
    const std::size_t length = formatOne(which, room.data(), capacity, a);
    FUZZ_CHECK(room[capacity] == L'#'); // nothing past the room
    FUZZ_CHECK(length < capacity && room[length] == L'\0');
    FUZZ_CHECK(std::wmemcmp(room.data(), whole.data(), length) == 0);
    if (full < capacity) {
        FUZZ_CHECK(length == full);
    } else {
        // Cut at the room, one unit less when that would leave half a surrogate pair.
        const bool half = capacity >= 2 && highSurrogate(whole[capacity - 2]);
        FUZZ_CHECK(length == (half ? capacity - 2 : capacity - 1));
    }
    return 0;
}
