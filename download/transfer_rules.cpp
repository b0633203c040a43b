#include "download/transfer_rules.h"

#include "download/response_rules.h"

ChunkVerdict judgeChunk(std::int64_t resumeOffset, DWORD bytesRead, std::int64_t size) {
    if (bytesRead == 0) {
        return resumeOffset == size ? ChunkVerdict::Complete : ChunkVerdict::EndedShort;
    }
    return resumeOffset + static_cast<std::int64_t>(bytesRead) > size ? ChunkVerdict::TooLong
                                                                      : ChunkVerdict::Write;
}

bool diskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

SetupResult writeFailure(DWORD error) {
    return diskFull(error) ? SetupResult::NotEnoughSpace : SetupResult::LocalError;
}

std::int64_t megabytesNeededAfterDiskFull(std::int64_t size, std::int64_t resumeOffset) {
    return wholeMegabytes(spaceNeeded(size, resumeOffset));
}
