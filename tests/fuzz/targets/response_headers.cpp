// The header readings of the response decision: Retry-After, Content-Range of a 416 and of a
// 206, Content-Length, on any text the server can send within the buffers.

#include "download/response_rules.h"
#include "fuzz_support.h"

#include <cinttypes>
#include <cwchar>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const int which = data.ConsumeIntegralInRange(0, 4);
    if (which == 4) {
        // Numbers written the way a server writes them come back unchanged.
        const auto first = data.ConsumeIntegralInRange<std::int64_t>(0, INT64_MAX);
        const auto last = data.ConsumeIntegralInRange<std::int64_t>(0, INT64_MAX);
        const auto total = data.ConsumeIntegralInRange<std::int64_t>(0, INT64_MAX);
        wchar_t text[kContentRangeCapacity];
        std::swprintf(text, kContentRangeCapacity, L"bytes %lld-%lld/%lld",
                      static_cast<long long>(first), static_cast<long long>(last),
                      static_cast<long long>(total));
        const ContentRange range = partialContentRange(text);
        FUZZ_CHECK(range.first == first && range.last == last && range.total == total);
        std::swprintf(text, kContentRangeCapacity, L"bytes */%lld", static_cast<long long>(total));
        FUZZ_CHECK(unsatisfiedRangeTotal(text) == total);
        std::swprintf(text, kContentRangeCapacity, L"%lld", static_cast<long long>(total));
        FUZZ_CHECK(announcedLength(true, text) == total);
        return 0;
    }
    const std::size_t capacity = which == 0   ? kRetryAfterCapacity
                                 : which == 3 ? kContentLengthCapacity
                                              : kContentRangeCapacity;
    const std::wstring text = headerText(data, capacity);
    const auto resumeOffset = data.ConsumeIntegralInRange<std::int64_t>(0, INT64_MAX);
    switch (which) {
    case 0: {
        const std::int32_t minutes = busyMinutes(text.c_str());
        // 2 at least; at most the 32-bit number of seconds rounded up.
        FUZZ_CHECK(minutes >= kMinBusyMinutes && minutes <= (INT32_MAX / 60) + 1);
        break;
    }
    case 1: {
        const std::int64_t total = unsatisfiedRangeTotal(text.c_str());
        if (provesComplete(total, resumeOffset)) {
            FUZZ_CHECK(total == resumeOffset && sizeAcceptable(total));
        }
        break;
    }
    case 2: {
        const ContentRange range = partialContentRange(text.c_str());
        if (continuesFile(range, resumeOffset)) {
            FUZZ_CHECK(range.first == resumeOffset);
            FUZZ_CHECK(range.first <= range.last && range.last < range.total);
            // What is left to come is positive and fits the total.
            FUZZ_CHECK(range.total - resumeOffset > 0);
        }
        break;
    }
    case 3: {
        const std::int64_t length = announcedLength(true, text.c_str());
        if (sizeAcceptable(length)) {
            FUZZ_CHECK(length >= kMinInstallerSize && length <= kMaxInstallerSize);
        } else {
            FUZZ_CHECK(sizeDetail(length) ==
                       (length < 0 ? 0u : static_cast<std::uint32_t>(wholeMegabytes(length))));
        }
        break;
    }
    }
    return 0;
}
