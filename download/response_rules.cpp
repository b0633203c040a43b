#include "download/response_rules.h"

#include <cstdint>
#include <cwchar>
#include <stdio.h>

AnswerRow answerRow(std::uint32_t status, std::int64_t resumeOffset) {
    if (status == 429) {
        return AnswerRow::Busy;
    }
    // 206 and 416 mean something only as answers to the Range header we sent.
    if (status == 416 && resumeOffset > 0) {
        return AnswerRow::RangeRefused;
    }
    if (status == 206 && resumeOffset > 0) {
        return AnswerRow::Partial;
    }
    if (status == 200) {
        return AnswerRow::Whole;
    }
    return AnswerRow::Unexpected;
}

std::int32_t busyMinutes(const wchar_t* text) {
    // An HTTP date or an empty text has no leading digits and reads 0. The reading clamps at
    // the 64-bit limits; the seconds are then held to 32 bits as the header's number is,
    // whatever the width of long, so the rounding below cannot overflow.
    std::int64_t seconds = _wcstoi64(text, nullptr, 10);
    if (seconds > INT32_MAX) {
        seconds = INT32_MAX;
    }
    if (seconds <= 0) {
        seconds = kDefaultRetryAfterSeconds;
    }
    const std::int64_t minutes = (seconds + 59) / 60;
    return minutes < kMinBusyMinutes ? kMinBusyMinutes : static_cast<std::int32_t>(minutes);
}

std::int64_t unsatisfiedRangeTotal(const wchar_t* text) {
    long long total = -1;
    (void)swscanf_s(text, L"bytes */%lld", &total);
    return total;
}

ContentRange partialContentRange(const wchar_t* text) {
    long long first = -1;
    long long last = -1;
    long long total = -1;
    (void)swscanf_s(text, L"bytes %lld-%lld/%lld", &first, &last, &total);
    return {first, last, total};
}

bool continuesFile(const ContentRange& range, std::int64_t resumeOffset) {
    // Inside the total as well: a file on disk as long as the server's or longer would
    // otherwise be "continued" with nothing, and fail the same way on every attempt.
    return range.first == resumeOffset && range.total > 0 && range.first < range.total &&
           range.last >= range.first && range.last < range.total;
}

bool provesComplete(std::int64_t total, std::int64_t resumeOffset) {
    return total == resumeOffset && total >= kMinInstallerSize && total <= kMaxInstallerSize;
}

std::int64_t announcedLength(bool present, const wchar_t* text) {
    return present ? _wcstoi64(text, nullptr, 10) : -1;
}

bool sizeAcceptable(std::int64_t size) {
    return size >= kMinInstallerSize && size <= kMaxInstallerSize;
}

std::uint32_t sizeDetail(std::int64_t size) {
    return size < 0 ? 0u : static_cast<std::uint32_t>(wholeMegabytes(size));
}

bool totalChanged(std::int64_t knownTotal, std::int64_t size, std::int64_t resumeOffset) {
    return knownTotal > 0 && size != knownTotal && resumeOffset > 0;
}

std::int64_t spaceNeeded(std::int64_t size, std::int64_t resumeOffset) {
    return size - resumeOffset + kFreeSpaceMargin;
}

bool enoughSpace(std::int64_t freeBytes, std::int64_t needed) {
    return freeBytes >= needed;
}

std::int64_t freeAfterEmptying(std::int64_t freeBytes, std::int64_t fileBytes) {
    if (fileBytes <= 0) {
        return freeBytes;
    }
    return freeBytes > INT64_MAX - fileBytes ? INT64_MAX : freeBytes + fileBytes;
}
