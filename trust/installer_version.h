#pragma once
// The installer's product version and the lowest one accepted.

#include <windows.h>

#include <cstdint>

struct InstallerVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
};

inline constexpr InstallerVersion minimumInstallerVersion{1, 1, 40, 0};

// The product version of the fixed record; the file version plays no part.
[[nodiscard]] InstallerVersion productVersionOf(const VS_FIXEDFILEINFO& info);

// Word by word from major to revision: the first word that differs decides.
[[nodiscard]] bool versionAccepted(const InstallerVersion& version,
                                   const InstallerVersion& minimum = minimumInstallerVersion);

// Whether VerQueryValueW's answer for the root block can be read as a VS_FIXEDFILEINFO.
[[nodiscard]] bool fixedInfoReadable(BOOL queried, const void* value, UINT length);
