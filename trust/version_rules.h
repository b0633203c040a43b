#pragma once
// The lowest product version accepted, and the comparison: plain values, no system header.

#include <cstdint>

struct InstallerVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

inline constexpr InstallerVersion minimumInstallerVersion{1, 1, 40, 0};

// Word by word from major to revision: the first word that differs decides.
[[nodiscard]] bool versionAccepted(const InstallerVersion& version,
                                   const InstallerVersion& minimum = minimumInstallerVersion);
