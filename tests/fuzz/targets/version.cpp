// The version comparison against any minimum agrees with the ordering of the four words taken
// as one number, and the built-in minimum accepts itself.

#include "fuzz_support.h"
#include "trust/version_rules.h"

namespace {

std::uint64_t asNumber(const InstallerVersion& v) {
    return (std::uint64_t{v.major} << 48) | (std::uint64_t{v.minor} << 32) |
           (std::uint64_t{v.build} << 16) | v.revision;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    auto word = [&] { return data.ConsumeIntegral<std::uint16_t>(); };
    const InstallerVersion version{word(), word(), word(), word()};
    const InstallerVersion minimum{word(), word(), word(), word()};
    FUZZ_CHECK(versionAccepted(version, minimum) == (asNumber(version) >= asNumber(minimum)));
    FUZZ_CHECK(versionAccepted(version) ==
               (asNumber(version) >= asNumber(minimumInstallerVersion)));
    FUZZ_CHECK(versionAccepted(version, version));
    return 0;
}
