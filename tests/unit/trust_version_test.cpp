#include "trust/installer_version.h"

#include <gtest/gtest.h>

namespace {

VS_FIXEDFILEINFO fixedInfo(DWORD productMs, DWORD productLs, DWORD fileMs, DWORD fileLs) {
    VS_FIXEDFILEINFO info = {};
    info.dwSignature = 0xFEEF04BD;
    info.dwProductVersionMS = productMs;
    info.dwProductVersionLS = productLs;
    info.dwFileVersionMS = fileMs;
    info.dwFileVersionLS = fileLs;
    return info;
}

TEST(VersionAccepted, WordByWordFromMajorToRevision) {
    struct Case {
        InstallerVersion version;
        bool expected;
    };
    const Case cases[] = {
        {{1, 1, 40, 0}, true},
        {{1, 1, 40, 1}, true},
        {{1, 1, 41, 0}, true},
        {{1, 2, 0, 0}, true},
        {{2, 0, 0, 0}, true},
        {{65535, 0, 0, 0}, true},
        {{1, 1, 40, 65535}, true},
        {{1, 1, 39, 65535}, false},
        {{1, 0, 99, 0}, false},
        {{1, 0, 65535, 65535}, false},
        {{0, 9, 0, 0}, false},
        {{0, 65535, 65535, 65535}, false},
        {{0, 0, 0, 0}, false},
        // A later word never makes up for an earlier smaller one.
        {{1, 1, 0, 40}, false},
        {{1, 0, 41, 0}, false},
    };
    for (const Case& c : cases) {
        const InstallerVersion& v = c.version;
        EXPECT_EQ(versionAccepted(v), c.expected)
            << v.major << '.' << v.minor << '.' << v.build << '.' << v.revision;
    }
}

TEST(VersionAccepted, AgainstAnotherMinimum) {
    EXPECT_TRUE(versionAccepted({3, 0, 0, 0}, {3, 0, 0, 0}));
    EXPECT_FALSE(versionAccepted({2, 9, 9, 9}, {3, 0, 0, 0}));
    EXPECT_FALSE(versionAccepted({3, 0, 0, 0}, {3, 0, 0, 1}));
}

TEST(ProductVersionOf, TakesTheProductWordsNotTheFileWords) {
    struct Case {
        VS_FIXEDFILEINFO info;
        InstallerVersion expected;
    };
    const Case cases[] = {
        {fixedInfo(0x00010001, 0x00280000, 0x00010001, 0x00280000), {1, 1, 40, 0}},
        {fixedInfo(0x00010002, 0x00030004, 0x00090009, 0x00090009), {1, 2, 3, 4}},
        {fixedInfo(0x00000009, 0x00000000, 0x00020000, 0x00000000), {0, 9, 0, 0}},
        {fixedInfo(0xFFFF0001, 0x0027FFFF, 0, 0), {65535, 1, 39, 65535}},
    };
    for (const Case& c : cases) {
        const InstallerVersion v = productVersionOf(c.info);
        EXPECT_EQ(v.major, c.expected.major);
        EXPECT_EQ(v.minor, c.expected.minor);
        EXPECT_EQ(v.build, c.expected.build);
        EXPECT_EQ(v.revision, c.expected.revision);
    }
}

TEST(FixedInfoReadable, NeedsSuccessAPointerAndAWholeRecord) {
    const VS_FIXEDFILEINFO info = {};
    const UINT whole = sizeof(VS_FIXEDFILEINFO);
    struct Case {
        BOOL queried;
        const void* value;
        UINT length;
        bool expected;
    };
    const Case cases[] = {
        {TRUE, &info, whole, true}, {TRUE, &info, whole + 4, true}, {TRUE, &info, whole - 1, false},
        {TRUE, &info, 0, false},    {TRUE, nullptr, whole, false},  {FALSE, &info, whole, false},
        {FALSE, nullptr, 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fixedInfoReadable(c.queried, c.value, c.length), c.expected)
            << c.queried << ' ' << (c.value != nullptr) << ' ' << c.length;
    }
}

} // namespace
