#include "download/transfer_rules.h"

#include "job/failure_cause.h"
#include "download/response_rules.h"

ChunkVerdict judgeChunk(std::int64_t resumeOffset, std::uint32_t bytesRead, std::int64_t size) {
    if (bytesRead == 0) {
        return resumeOffset == size ? ChunkVerdict::Complete : ChunkVerdict::EndedShort;
    }
    return resumeOffset + static_cast<std::int64_t>(bytesRead) > size ? ChunkVerdict::TooLong
                                                                      : ChunkVerdict::Write;
}

bool diskFull(std::uint32_t error) {
    return error == kErrorDiskFull || error == kErrorHandleDiskFull;
}

SetupResult writeFailure(std::uint32_t error) {
    return diskFull(error) ? SetupResult::NotEnoughSpace : SetupResult::LocalError;
}

std::int64_t megabytesNeededAfterDiskFull(std::int64_t size, std::int64_t resumeOffset) {
    return wholeMegabytes(spaceNeeded(size, resumeOffset));
}

SetupResult attemptCode(bool cancelRequested, SetupResult code) {
    return cancelRequested && code != SetupResult::Ok ? SetupResult::Cancelled : code;
}

bool resendWithoutClientCertificate(std::uint32_t error, bool alreadyResent) {
    return error == kErrorClientCertificateNeeded && !alreadyResent;
}
