#pragma once
// The pure half of the transfer: what one read means, what one failed write means.

#include "job/setup_result.h"

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kReadChunkSize = 262'144; // 256 KiB: the buffer and every read
// The two system errors by which a write reports a full disk.
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorHandleDiskFull = 39;

enum class ChunkVerdict {
    Complete,   // the body ended at exactly the size
    EndedShort, // the body ended before the size
    TooLong,    // this chunk would pass the size: none of it is written
    Write,      // write it and read on
};

[[nodiscard]] ChunkVerdict judgeChunk(std::int64_t resumeOffset, std::uint32_t bytesRead,
                                      std::int64_t size);

// ERROR_DISK_FULL (112) or ERROR_HANDLE_DISK_FULL (39).
[[nodiscard]] bool diskFull(std::uint32_t error);

// NotEnoughSpace for a full disk, LocalError for any other write failure.
[[nodiscard]] SetupResult writeFailure(std::uint32_t error);

// MiB still needed when the disk fills up with `resumeOffset` bytes written before the chunk.
[[nodiscard]] std::int64_t megabytesNeededAfterDiskFull(std::int64_t size,
                                                        std::int64_t resumeOffset);

// The attempt's code once a Cancel may have closed the request: a refusal or a failure that
// follows a Cancel is the Cancel's doing, not the server's. A file proved complete stays so.
[[nodiscard]] SetupResult attemptCode(bool cancelRequested, SetupResult code);

// A server, or a proxy that inspects TLS, that asks for a client certificate (12044) gets the
// request once more, saying there is none.
[[nodiscard]] bool resendWithoutClientCertificate(std::uint32_t error, bool alreadyResent);
