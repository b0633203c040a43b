#pragma once
// The pure half of the transfer: what one read means, what one failed write means.

#include "app/setup_job.h"

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kReadChunkSize = 262'144; // 256 KiB: the buffer and every read

enum class ChunkVerdict {
    Complete,   // the body ended at exactly the size
    EndedShort, // the body ended before the size
    TooLong,    // this chunk would pass the size: none of it is written
    Write,      // write it and read on
};

[[nodiscard]] ChunkVerdict judgeChunk(std::int64_t resumeOffset, DWORD bytesRead,
                                      std::int64_t size);

// ERROR_DISK_FULL (112) or ERROR_HANDLE_DISK_FULL (39).
[[nodiscard]] bool diskFull(DWORD error);

// NotEnoughSpace for a full disk, LocalError for any other write failure.
[[nodiscard]] SetupResult writeFailure(DWORD error);

// MiB still needed when the disk fills up with `resumeOffset` bytes written before the chunk.
[[nodiscard]] std::int64_t megabytesNeededAfterDiskFull(std::int64_t size,
                                                        std::int64_t resumeOffset);
