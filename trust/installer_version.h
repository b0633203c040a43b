#pragma once
// The installer's product version as the version resource holds it.

#include "trust/version_rules.h"

#include <windows.h>

// The product version of the fixed record; the file version plays no part.
[[nodiscard]] InstallerVersion productVersionOf(const VS_FIXEDFILEINFO& info);

// Whether VerQueryValueW's answer for the root block can be read as a VS_FIXEDFILEINFO.
[[nodiscard]] bool fixedInfoReadable(BOOL queried, const void* value, UINT length);
