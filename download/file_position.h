#pragma once
// Where the installer file stands between the attempts of one retry loop. Each attempt gets it
// and returns it as the attempt and its response decision left it.

#include "download/release_validators.h"

#include <cstdint>

struct FilePosition {
    std::int64_t resumeOffset = 0; // bytes in the file: the first byte to ask for
    std::int64_t knownTotal = 0;   // the size an earlier attempt accepted; 0: none yet
    ReleaseValidators validators;  // of the release the bytes in the file belong to, if known
};
