#include "download/body_transfer.h"

#include "download/transfer_rules.h"
#include "job/setup_job.h"

#include <cstddef>
#include <memory>

BodyEnd transferBody(SetupJob& job, ReadChunk read, void* source, HANDLE file, std::int64_t size,
                     std::int64_t& offset) {
    // Zero-filled, and only once the transfer is allowed.
    const auto buffer = std::make_unique<std::byte[]>(kReadChunkSize);
    for (;;) {
        if (job.cancelRequested.load()) {
            return BodyEnd::Cancelled;
        }
        DWORD got = 0;
        if (!read(source, buffer.get(), static_cast<DWORD>(kReadChunkSize), got)) {
            job.detail = GetLastError();
            return BodyEnd::ReadFailed;
        }
        switch (judgeChunk(offset, got, size)) {
        case ChunkVerdict::Complete:
            return BodyEnd::Complete;
        case ChunkVerdict::EndedShort:
            return BodyEnd::EndedShort;
        case ChunkVerdict::TooLong:
            return BodyEnd::TooLong;
        case ChunkVerdict::Write:
            break;
        }
        DWORD written = 0;
        if (!WriteFile(file, buffer.get(), got, &written, nullptr) || written != got) {
            // After a short write that reported success this is whatever the thread last set.
            job.detail = GetLastError();
            if (diskFull(job.detail)) {
                job.neededMegabytes = megabytesNeededAfterDiskFull(size, offset);
            }
            return BodyEnd::WriteFailed;
        }
        offset += got;
        job.downloaded.store(offset);
    }
}
