#include "trust/installer_version.h"

InstallerVersion productVersionOf(const VS_FIXEDFILEINFO& info) {
    return InstallerVersion{HIWORD(info.dwProductVersionMS), LOWORD(info.dwProductVersionMS),
                            HIWORD(info.dwProductVersionLS), LOWORD(info.dwProductVersionLS)};
}

bool fixedInfoReadable(BOOL queried, const void* value, UINT length) {
    // A version block may carry no fixed record (its value length 0): the pointer then aims
    // at the children, and reading a VS_FIXEDFILEINFO there would read other bytes.
    return queried != FALSE && value != nullptr && length >= sizeof(VS_FIXEDFILEINFO);
}
