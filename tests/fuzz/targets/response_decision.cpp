// The response decision and the transfer rules in the order the attempt applies them, on any
// status, offset, announced size, earlier total, free space and sequence of reads: whatever
// the server says, an accepted transfer never writes past its size, never starts past the
// file's end, and the space asked for always holds the 400 MiB margin.

#include "download/response_rules.h"
#include "download/transfer_rules.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const auto status = data.ConsumeIntegral<std::uint32_t>();
    auto resumeOffset = data.ConsumeIntegralInRange<std::int64_t>(0, INT64_MAX);
    auto knownTotal = data.ConsumeBool()
                          ? std::int64_t{0}
                          : data.ConsumeIntegralInRange(kMinInstallerSize, kMaxInstallerSize);
    const ContentRange range{data.ConsumeIntegral<std::int64_t>(),
                             data.ConsumeIntegral<std::int64_t>(),
                             data.ConsumeIntegral<std::int64_t>()};
    const auto length = data.ConsumeIntegral<std::int64_t>();
    const auto freeBytes = data.ConsumeIntegralInRange<std::int64_t>(0, INT64_MAX);

    std::int64_t accepted = -1;
    bool rangeIgnored = false;
    switch (answerRow(status, resumeOffset)) {
    case AnswerRow::Busy:
        FUZZ_CHECK(status == 429);
        return 0;
    case AnswerRow::RangeRefused:
        FUZZ_CHECK(status == 416 && resumeOffset > 0);
        if (provesComplete(range.total, resumeOffset)) {
            FUZZ_CHECK(sizeAcceptable(resumeOffset));
        }
        return 0;
    case AnswerRow::Partial:
        FUZZ_CHECK(status == 206 && resumeOffset > 0);
        if (!continuesFile(range, resumeOffset)) {
            return 0;
        }
        accepted = range.total;
        break;
    case AnswerRow::Whole:
        FUZZ_CHECK(status == 200);
        rangeIgnored = resumeOffset > 0;
        accepted = length;
        break;
    case AnswerRow::Unexpected:
        FUZZ_CHECK(status != 200 && status != 429);
        return 0;
    }
    if (!sizeAcceptable(accepted)) {
        FUZZ_CHECK(sizeDetail(accepted) <= static_cast<std::uint32_t>(INT64_MAX >> 20));
        return 0;
    }
    const std::int64_t startOffset = rangeIgnored ? 0 : resumeOffset;
    FUZZ_CHECK(startOffset < accepted); // nothing accepted starts at or past the end
    if (totalChanged(knownTotal, accepted, startOffset)) {
        FUZZ_CHECK(startOffset > 0);
        return 0;
    }
    const std::int64_t needed = spaceNeeded(accepted, startOffset);
    FUZZ_CHECK(needed > kFreeSpaceMargin && needed <= kMaxInstallerSize + kFreeSpaceMargin);
    if (!enoughSpace(freeAfterEmptying(freeBytes, rangeIgnored ? resumeOffset : 0), needed)) {
        FUZZ_CHECK(wholeMegabytes(needed) >= 400);
        return 0;
    }
    resumeOffset = startOffset;
    knownTotal = accepted;

    // The transfer: reads of any length the server chooses, up to the chunk size.
    for (int reads = 0; reads < 64; ++reads) {
        const auto read = data.ConsumeIntegralInRange<std::uint32_t>(0, kReadChunkSize);
        switch (judgeChunk(resumeOffset, read, accepted)) {
        case ChunkVerdict::Complete:
            FUZZ_CHECK(resumeOffset == accepted && read == 0);
            return 0;
        case ChunkVerdict::EndedShort:
            FUZZ_CHECK(resumeOffset < accepted && read == 0);
            return 0;
        case ChunkVerdict::TooLong:
            FUZZ_CHECK(resumeOffset + read > accepted);
            return 0;
        case ChunkVerdict::Write:
            resumeOffset += read;
            FUZZ_CHECK(resumeOffset <= accepted);
            if (data.ConsumeBool()) {
                // The disk fills up at this chunk.
                const auto error = data.ConsumeIntegral<std::uint32_t>();
                const SetupResult code = writeFailure(error);
                FUZZ_CHECK(code == (diskFull(error) ? SetupResult::NotEnoughSpace
                                                    : SetupResult::LocalError));
                FUZZ_CHECK(megabytesNeededAfterDiskFull(accepted, resumeOffset - read) >= 400);
                return 0;
            }
            break;
        }
    }
    return 0;
}
