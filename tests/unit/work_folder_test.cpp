// Whether an existing Skyloom-Setup is the program's own, from what the system says of it; and
// the same test for the installer file. Wine cannot show a file-level link or a stranger as
// owner, so those rows live here only.

#include "app/stale_folders.h"
#include "app/work_folder.h"
#include "platform/plain_file.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using enum FolderVerdict;

const std::wstring kTemp = L"\\\\?\\C:\\Users\\Jo\u00e3o\\AppData\\Local\\Temp";
const std::wstring kOwn = kTemp + L"\\Skyloom-Setup";
constexpr DWORD kFolder = FILE_ATTRIBUTE_DIRECTORY;

AceFacts stranger(std::uint32_t mask) {
    return {true, false, mask};
}
// The user with full control, Everyone with read and execute: Wine's 0755 folder.
const std::vector<AceFacts> kOurs{{true, true, FILE_ALL_ACCESS}, stranger(0x1200A9)};

// The DACL's entries as readSecurityFacts reads them, one by one.
FolderFacts facts(const std::vector<AceFacts>& aces = kOurs, std::wstring finalPath = kOwn,
                  DWORD attributes = kFolder, bool ownerTrusted = true, bool hasDacl = true,
                  std::wstring temp = kTemp) {
    bool strangersMayWrite = !hasDacl;
    for (const AceFacts ace : aces) {
        strangersMayWrite |= grantsStranger(ace);
    }
    return {attributes, std::move(finalPath), std::move(temp), {ownerTrusted, strangersMayWrite}};
}

TEST(WorkFolder, UsedOnlyWhenNobodyElseCanRepointOrWriteIt) {
    const struct {
        const char* name;
        FolderFacts facts;
        FolderVerdict expected;
    } cases[] = {
        {"own", facts(), Own},
        {"other letter case",
         facts(kOurs, L"\\\\?\\c:\\users\\JO\u00c3O\\appdata\\local\\TEMP\\"
                      L"skyloom-setup"),
         Own},
        {"temporary folder at a root",
         facts(kOurs, L"\\\\?\\D:\\Skyloom-Setup", kFolder, true, true, L"\\\\?\\D:\\"), Own},
        {"empty DACL", facts({}), Own},
        {"a stranger denied all", facts({{false, false, GENERIC_ALL}}), Own},
        {"junction or link", facts(kOurs, kOwn, kFolder | FILE_ATTRIBUTE_REPARSE_POINT),
         ReparsePoint},
        {"a file", facts(kOurs, kOwn, FILE_ATTRIBUTE_ARCHIVE), NotAFolder},
        {"leads elsewhere", facts(kOurs, L"\\\\?\\Z:\\tmp\\planted"), Elsewhere},
        {"a longer name", facts(kOurs, kOwn + L"-old"), Elsewhere},
        {"owned by a stranger", facts(kOurs, kOwn, kFolder, false), ForeignOwner},
        {"null DACL", facts({}, kOwn, kFolder, true, false), OthersMayWrite},
        {"Wine's 0777 folder", facts({stranger(0x1301FF)}), OthersMayWrite},
        {"add a file", facts({stranger(FILE_ADD_FILE)}), OthersMayWrite},
        {"add a folder", facts({stranger(FILE_ADD_SUBDIRECTORY)}), OthersMayWrite},
        {"delete what it holds", facts({stranger(FILE_DELETE_CHILD)}), OthersMayWrite},
        {"rename it away", facts({stranger(DELETE)}), OthersMayWrite},
        {"rewrite its DACL", facts({stranger(WRITE_DAC)}), OthersMayWrite},
        {"generic write for files", facts({stranger(GENERIC_WRITE)}), OthersMayWrite},
        // Enough to make the empty folder a junction later.
        {"write its attributes", facts({stranger(FILE_WRITE_ATTRIBUTES)}), OthersMayWrite},
        // An entry type read wrongly would put its mask anywhere.
        {"an entry of an unknown type", facts({aceFactsOf(0x13, 0, true)}), OthersMayWrite},
        {"an object entry of the user's",
         facts({aceFactsOf(ACCESS_ALLOWED_OBJECT_ACE_TYPE, FILE_ADD_FILE, true)}), OthersMayWrite},
        {"a conditional denial",
         facts({aceFactsOf(ACCESS_DENIED_CALLBACK_ACE_TYPE, GENERIC_ALL, false)}), Own},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(judgeOwnFolder(c.facts, L"Skyloom-Setup", {}), c.expected) << c.name;
    }
}

// Where the volume keeps no owners (FAT, exFAT), only place and identity can tell; where the
// trusted set labels its folders, a folder without the label is not its own.
TEST(WorkFolder, WithoutAclsOnlyThePlaceAndWithALabelledSetOnlyALabelledFolder) {
    const auto without = [](FolderFacts f) {
        f.aclsKept = false;
        return f;
    };
    const auto labelled = [](FolderFacts f) {
        f.security.highLabel = true;
        return f;
    };
    const TrustedSet labelling{nullptr, true};
    const struct {
        const char* name;
        FolderFacts facts;
        TrustedSet trusted;
        FolderVerdict expected;
    } cases[] = {
        {"FAT: world-owned", without(facts({}, kOwn, kFolder, false, false)), {}, Own},
        {"FAT: a link all the same",
         without(facts(kOurs, kOwn, kFolder | FILE_ATTRIBUTE_REPARSE_POINT)),
         {},
         ReparsePoint},
        {"FAT: elsewhere", without(facts(kOurs, L"\\\\?\\Z:\\x")), {}, Elsewhere},
        {"labelled set, no label", facts(), labelling, NoLabel},
        {"labelled set, labelled", labelled(facts()), labelling, Own},
        {"labelled, but a stranger's", labelled(facts(kOurs, kOwn, kFolder, false)), labelling,
         ForeignOwner},
        {"labelled set on FAT", without(facts()), labelling, Own},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(judgeOwnFolder(c.facts, L"Skyloom-Setup", c.trusted), c.expected) << c.name;
    }
}

TEST(WorkFolder, AnyFailureOfTheFixedFolderButItsExistenceLeadsToAFreshOne) {
    const struct {
        DWORD error;
        FixedFolderStep step;
    } cases[] = {
        {0, FixedFolderStep::Use},
        {ERROR_ALREADY_EXISTS, FixedFolderStep::Examine},
        {ERROR_ACCESS_DENIED, FixedFolderStep::Fresh}, // left delete pending by the last run
        {ERROR_FILE_EXISTS, FixedFolderStep::Fresh},
        {ERROR_PATH_NOT_FOUND, FixedFolderStep::Fresh},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(afterCreatingFixedFolder(c.error), c.step) << c.error;
    }
}

// What a run killed long ago left goes; the fixed folder, other names and a young or foreign
// folder stay.
TEST(StaleFolders, OnlyAFreshNameOfTheProgramsOwnMadeOverAnHourAgo) {
    const std::pair<std::wstring_view, bool> names[] = {
        {L"Skyloom-Setup-0A1B2C3D", true},   {L"Skyloom-Setup", false},
        {L"Skyloom-Setup-0a1b2c3d", false},  {L"Skyloom-Setup-0A1B2C3", false},
        {L"Skyloom-Setup-0A1B2C3D4", false}, {L"Skyloom-Setup_0A1B2C3D", false},
        {L"Other-Setup-0A1B2C3D", false},
    };
    for (const auto& [name, fresh] : names) {
        EXPECT_EQ(freshFolderName(name), fresh) << std::string(name.begin(), name.end());
    }
    // Picked by the listing alone: young names, links and files cost no open.
    constexpr std::int64_t kHour = 3600LL * 10'000'000;
    const std::int64_t now = 1000 * kHour;
    const struct {
        const char* name;
        FolderEntry entry;
        bool candidate;
    } listed[] = {
        {"old", {L"Skyloom-Setup-0A1B2C3D", kFolder, now - kHour}, true},
        {"young", {L"Skyloom-Setup-0A1B2C3D", kFolder, now - kHour + 1}, false},
        {"made in the future", {L"Skyloom-Setup-0A1B2C3D", kFolder, now + kHour}, false},
        {"a link", {L"Skyloom-Setup-0A1B2C3D", kFolder | FILE_ATTRIBUTE_REPARSE_POINT, 0}, false},
        {"a file", {L"Skyloom-Setup-0A1B2C3D", FILE_ATTRIBUTE_ARCHIVE, 0}, false},
        {"the fixed name", {L"Skyloom-Setup", kFolder, 0}, false},
    };
    for (const auto& c : listed) {
        EXPECT_EQ(staleCandidate(c.entry, now), c.candidate) << c.name;
    }
}

// An open that meets a stranger's opportunistic lock returns at once with a live handle
// (STATUS_OPLOCK_BREAK_IN_PROGRESS, a success): the name is let go. Wine has no such locks.
TEST(OpenInFolder, AnOpenThatBreaksALockGivesTheNameUp) {
    const struct {
        LONG status;
        DWORD error;
    } cases[] = {
        {0, 0},
        {0x00000108, ERROR_SHARING_VIOLATION},
        {static_cast<LONG>(0xC0000043), ERROR_SHARING_VIOLATION}, // counted the same
    };
    for (const auto& c : cases) {
        const HANDLE opened = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ASSERT_NE(opened, nullptr);
        const bool success = c.status >= 0;
        UniqueFile handle;
        EXPECT_EQ(takeOpened(c.status, success ? opened : nullptr, handle), c.error) << c.status;
        // An open kept hands its handle over; one that broke a lock has closed it.
        const bool kept = c.error == 0;
        EXPECT_EQ(handle.get() == opened, kept) << c.status;
        DWORD flags = 0;
        EXPECT_EQ(GetHandleInformation(opened, &flags) != FALSE, kept || !success) << c.status;
        if (!success) {
            CloseHandle(opened);
        }
    }
}

TEST(PlainFile, OnlyAnOrdinaryFileWithOneName) {
    const struct {
        DWORD attributes, links, expected;
    } cases[] = {
        {FILE_ATTRIBUTE_ARCHIVE, 1, 0},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, 1, kErrorStoppedOnLink},
        {FILE_ATTRIBUTE_ARCHIVE, 2, ERROR_TOO_MANY_LINKS},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plainFileError(c.attributes, c.links), c.expected) << c.attributes << c.links;
    }
}

TEST(PlainFile, OnlyAFileSystemWithoutPosixDeleteFallsBackToTheClassicOne) {
    for (DWORD error : {87u, 50u, 1u, 120u}) {
        EXPECT_TRUE(posixDeleteUnsupported(error)) << error;
    }
    // Access and sharing stay with the held-file retry.
    for (DWORD error : {0u, 5u, 32u, 33u, 2u}) {
        EXPECT_FALSE(posixDeleteUnsupported(error)) << error;
    }
}

// The clean-up removes a folder by the identity it noted: a folder renamed away and another made
// under its name must not be taken for it.
TEST(PlainFile, AFolderIsRemovedByItsIdentityNotByItsName) {
    ScratchFolder scratch(L"skyloom-folder-identity");
    const UniqueFile parent = scratch.hold();
    ASSERT_TRUE(CreateDirectoryW(scratch.file(L"one").c_str(), nullptr));
    FileIdentity noted;
    ASSERT_EQ(identityOf(holdFolderAsTheProgramDoes(scratch.file(L"one")).get(), noted), 0u);
    ASSERT_TRUE(MoveFileW(scratch.file(L"one").c_str(), scratch.file(L"moved").c_str()));
    ASSERT_TRUE(CreateDirectoryW(scratch.file(L"one").c_str(), nullptr));

    EXPECT_EQ(deleteFolderIn(parent.get(), L"one", noted), kErrorNotTheSameFolder);
    EXPECT_NE(GetFileAttributesW(scratch.file(L"one").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(deleteFolderIn(parent.get(), L"moved", noted), 0u);
    EXPECT_EQ(GetFileAttributesW(scratch.file(L"moved").c_str()), INVALID_FILE_ATTRIBUTES);
}

} // namespace
