#pragma once
// The pure half of the response decision: reading the header texts and the tests
// on sizes and free space. No system calls here, so unit tests reach every boundary.

#include <cstddef>
#include <cstdint>

// Header buffers in UTF-16 units with the terminator; a longer value reads as "".
inline constexpr std::size_t kRetryAfterCapacity = 64;
inline constexpr std::size_t kContentRangeCapacity = 128;
inline constexpr std::size_t kContentLengthCapacity = 64;

inline constexpr std::int64_t kMinInstallerSize = 1'048'576;   // 1 MiB, inclusive
inline constexpr std::int64_t kMaxInstallerSize = 419'430'400; // 400 MiB, inclusive
inline constexpr std::int64_t kFreeSpaceMargin = 419'430'400;  // also used when the disk fills up
inline constexpr std::int32_t kDefaultRetryAfterSeconds = 300;
inline constexpr std::int32_t kMinBusyMinutes = 2;

// Which row of the decision table an answer falls in.
enum class AnswerRow {
    Busy,         // 429
    RangeRefused, // 416 to a range request
    Partial,      // 206 to a range request
    Whole,        // 200
    Unexpected,   // anything else, 206 and 416 without a range and 0 included
};

[[nodiscard]] AnswerRow answerRow(std::uint32_t status, std::int64_t resumeOffset);

// Minutes to tell the user for a 429 whose Retry-After reads `text` ("" when absent): the
// seconds rounded up, 300 seconds when the value is not a positive number, never below 2.
[[nodiscard]] std::int32_t busyMinutes(const wchar_t* text);

// N of "bytes */N"; -1 when the text does not match.
[[nodiscard]] std::int64_t unsatisfiedRangeTotal(const wchar_t* text);

// first, last and total of "bytes first-last/total"; each -1 when the scan stops before it.
struct ContentRange {
    std::int64_t first = -1;
    std::int64_t last = -1;
    std::int64_t total = -1;
};
[[nodiscard]] ContentRange partialContentRange(const wchar_t* text);

// A 206 continues the file only when it starts at its end and names a total that both its
// first and its last byte lie below.
[[nodiscard]] bool continuesFile(const ContentRange& range, std::int64_t resumeOffset);

// A 416 proves the file complete when its total is the file's length and within bounds.
[[nodiscard]] bool provesComplete(std::int64_t total, std::int64_t resumeOffset);

// The Content-Length value; -1 when the header is missing, 0 when it holds no digits.
[[nodiscard]] std::int64_t announcedLength(bool present, const wchar_t* text);

[[nodiscard]] bool sizeAcceptable(std::int64_t size);

// `detail` of UnexpectedSize: whole MiB kept to 32 bits, 0 for a negative size.
[[nodiscard]] std::uint32_t sizeDetail(std::int64_t size);

// A partial answer whose total differs from the one an earlier attempt accepted.
[[nodiscard]] bool totalChanged(std::int64_t knownTotal, std::int64_t size,
                                std::int64_t resumeOffset);

// Bytes still to come plus the 400 MiB margin.
[[nodiscard]] std::int64_t spaceNeeded(std::int64_t size, std::int64_t resumeOffset);

[[nodiscard]] bool enoughSpace(std::int64_t freeBytes, std::int64_t needed);

// The free bytes once a file of `fileBytes` is emptied (a 200 to a range request is judged
// before its file is emptied); held at the 64-bit limit.
[[nodiscard]] std::int64_t freeAfterEmptying(std::int64_t freeBytes, std::int64_t fileBytes);

// Whole mebibytes, rounded down.
[[nodiscard]] constexpr std::int64_t wholeMegabytes(std::int64_t bytes) {
    return bytes >> 20;
}
