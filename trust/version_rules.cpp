#include "trust/version_rules.h"

#include <array>
#include <cstddef>

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
