#include "trust/installer_version.h"

#include <array>

InstallerVersion productVersionOf(const VS_FIXEDFILEINFO& info) {
    return InstallerVersion{HIWORD(info.dwProductVersionMS), LOWORD(info.dwProductVersionMS),
                            HIWORD(info.dwProductVersionLS), LOWORD(info.dwProductVersionLS)};
}

bool versionAccepted(const InstallerVersion& version, const InstallerVersion& minimum) {
    const std::array<std::uint16_t, 4> have{version.major, version.minor, version.build,
                                            version.revision};
    const std::array<std::uint16_t, 4> need{minimum.major, minimum.minor, minimum.build,
                                            minimum.revision};
    for (std::size_t i = 0; i < have.size(); ++i) {
        if (have[i] != need[i]) {
            return have[i] > need[i];
        }
    }
    return true;
}

bool fixedInfoReadable(BOOL queried, const void* value, UINT length) {
    // A version block may carry no fixed record (its value length 0): the pointer then aims
    // at the children, and reading a VS_FIXEDFILEINFO there would read other bytes.
    return queried != FALSE && value != nullptr && length >= sizeof(VS_FIXEDFILEINFO);
}
