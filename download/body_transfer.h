#pragma once
// The copy loop of a download and of a full installer at hand: chunks read from a source and
// appended to the installer file up to the size accepted, the byte count published after each,
// Cancel seen before every read.

#include <windows.h>

#include <cstdint>

struct SetupJob;

// Reads the next chunk of the source into `buffer`: false with the thread's last error set.
using ReadChunk = bool (*)(void* source, void* buffer, DWORD capacity, DWORD& read);

enum class BodyEnd {
    Complete,    // the file holds exactly the size
    Cancelled,   // seen before a read
    ReadFailed,  // job.detail: the read's error
    EndedShort,  // the source ended before the size
    TooLong,     // the source went past the size: the chunk that did is not written
    WriteFailed, // job.detail, and job.neededMegabytes for a full disk: see writeFailure
};

// `offset`: the file's length, its pointer at its end; it follows every chunk written. The
// transfer buffer's allocation failure leaves as std::bad_alloc.
[[nodiscard]] BodyEnd transferBody(SetupJob& job, ReadChunk read, void* source, HANDLE file,
                                   std::int64_t size, std::int64_t& offset);
