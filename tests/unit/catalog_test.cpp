#include "build_config.h"

#include <windows.h>

#include "base/wide_format.h"
#include "ui/catalog_widening.h"
#include "ui/message_catalog.h"
#include "widened_catalogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring item(const MessageCatalog& c, std::size_t i) {
    return reinterpret_cast<const wchar_t* const*>(&c)[i];
}

struct LanguageCase {
    std::wstring_view request;
    LANGID uiLanguage;
    std::wstring expected;
};

TEST(SelectCatalog, RequestThenPrimaryUiLanguage) {
    const LanguageCase cases[] = {
        {L"pt", 0x0407, L"pt"}, {L"it", 0x0409, L"it"},    {L"en", 0x0416, L"en"},
        {L"PT", 0x0407, L"de"}, {L"pt-PT", 0x040C, L"fr"}, {L" pt", 0x0410, L"it"},
        {L"", 0x0C0A, L"es"},   {L"xx", 0x0416, L"pt"},    {L"", 0x0816, L"pt"},
        {L"", 0x0807, L"de"},   {L"", 0x0407, L"de"},      {L"", 0x080C, L"fr"},
        {L"", 0x0810, L"it"},   {L"", 0x0403, L"en"},      {L"", 0x0413, L"en"},
        {L"", 0x0411, L"en"},   {L"", 0x0000, L"en"},      {L"de ", 0x0409, L"en"},
    };
    for (const LanguageCase& c : cases) {
        EXPECT_EQ(widenedCatalog(catalogIndexFor(c.request, c.uiLanguage)).languageCode, c.expected)
            << "request [" << std::string(c.request.begin(), c.request.end()) << "] langid "
            << c.uiLanguage;
    }
}

// The platform's own UTF-8 decoder for one stored item.
std::wstring systemWidened(std::u8string_view item) {
    const char* bytes = reinterpret_cast<const char*>(item.data());
    const int size = static_cast<int>(item.size());
    std::wstring wide(item.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, wide.data(), size));
    return wide;
}

TEST(Catalogs, SixLanguagesInOrderTwentyNineItems) {
    const wchar_t* codes[] = {L"en", L"pt", L"es", L"fr", L"de", L"it"};
    ASSERT_EQ(kCatalogTexts.size(), 6u);
    ASSERT_EQ(kCatalogItemCount, 29u);
    for (std::size_t i = 0; i < kCatalogTexts.size(); ++i) {
        // As many units as the text has bytes are enough (the start-up buffer's bound).
        std::vector<wchar_t> units(kCatalogTexts[i].size());
        MessageCatalog c{};
        ASSERT_TRUE(widenCatalog(kCatalogTexts[i], units, c)) << codes[i];
        EXPECT_STREQ(c.languageCode, codes[i]);
        EXPECT_STREQ(c.productName, L"Skyloom");
        std::u8string_view rest = kCatalogTexts[i];
        for (std::size_t k = 0; k < kCatalogItemCount; ++k) {
            // Each item is the stored one, whole, as the system widens it.
            const std::u8string_view stored = rest.substr(0, rest.find(u8'\0'));
            rest.remove_prefix(stored.size() + 1);
            EXPECT_EQ(item(c, k), systemWidened(stored)) << codes[i] << " item " << k;
            EXPECT_FALSE(item(c, k).empty()) << codes[i] << " item " << k;
            // The failure dialog reads its content as markup: a '<' could make a link.
            EXPECT_EQ(item(c, k).find(L'<'), std::wstring::npos) << codes[i] << k;
        }
    }
}

// The platform decodes; the widening splits what it gives into whole items.
TEST(Catalogs, WideningRefusesWhatIsNotWholeItems) {
    std::u8string others;
    for (std::size_t k = 1; k < kCatalogItemCount; ++k) {
        others += u8"x";
        others += u8'\0';
    }
    const std::u8string nul(1, u8'\0');
    const std::u8string whole = u8"a\u2026" + nul + others;
    const std::size_t exact = whole.size() - 2; // the ellipsis takes three bytes, one unit
    struct Case {
        const char* name;
        std::u8string text;
        std::size_t units;
        bool whole;
        std::wstring first;
        std::wstring last;
    };
    const Case cases[] = {
        {"whole", whole, exact, true, L"a\u2026", L"x"},
        {"no room for the last NUL", whole, exact - 1, false, L"", L""},
        {"not UTF-8", u8"a\xC0\xAF" + nul + others, 100, false, L"", L""},
        {"one item short", others, 100, false, L"x", L""},
        {"one item more", u8"a" + nul + others + u8"b" + nul, 100, false, L"a", L"x"},
        {"last NUL missing", u8"a" + nul + others.substr(0, others.size() - 1), 100, false, L"a",
         L""},
    };
    for (const Case& c : cases) {
        std::vector<wchar_t> units(c.units, L'?');
        MessageCatalog catalog{};
        EXPECT_EQ(widenCatalog(c.text, units, catalog), c.whole) << c.name;
        EXPECT_EQ(item(catalog, 0), c.first) << c.name;
        EXPECT_EQ(item(catalog, kCatalogItemCount - 1), c.last) << c.name;
        // Whole or not, every field is a NUL-ended text.
        for (std::size_t k = 1; k + 1 < kCatalogItemCount; ++k) {
            EXPECT_TRUE(item(catalog, k) == L"x" || (!c.whole && item(catalog, k).empty()))
                << c.name << " item " << k;
        }
    }
}

TEST(Catalogs, ProgressFacesEndWithOneEllipsisCharacter) {
    for (std::size_t i = 0; i < kCatalogCount; ++i) {
        const MessageCatalog& c = widenedCatalog(i);
        for (const wchar_t* text : {c.connectingText, c.downloadingText, c.checkingText}) {
            const std::wstring s = text;
            EXPECT_EQ(s.back(), L'\u2026') << c.languageCode;
            EXPECT_EQ(s.find(L"..."), std::wstring::npos) << c.languageCode;
        }
    }
}

TEST(Catalogs, SupportAddressEndsItems9To11And12) {
    const std::wstring ending = L" " SKYLOOM_SUPPORT_EMAIL L".";
    for (std::size_t i = 0; i < kCatalogCount; ++i) {
        const MessageCatalog& c = widenedCatalog(i);
        for (const wchar_t* text :
             {c.invalidInstallerText, c.installFailedFormat, c.genericFailureFormat}) {
            const std::wstring s = text;
            ASSERT_GE(s.size(), ending.size());
            EXPECT_EQ(s.substr(s.size() - ending.size()), ending) << c.languageCode;
        }
    }
}

TEST(Catalogs, UnitWordAndFormats) {
    struct Case {
        const MessageCatalog& catalog;
        const wchar_t* progress;
        const wchar_t* disk;
    };
    const Case cases[] = {
        {widenedCatalog(0), L"12 MB of 240 MB", L"About 523 MB are needed."},
        {widenedCatalog(1), L"12 MB de 240 MB", L"cerca de 523 MB."},
        {widenedCatalog(2), L"12 MB de 240 MB", L"unos 523 MB."},
        {widenedCatalog(3), L"12 Mo sur 240 Mo", L"environ 523 Mo."},
        {widenedCatalog(4), L"12 MB von 240 MB", L"etwa 523 MB ben\u00f6tigt."},
        {widenedCatalog(5), L"12 MB di 240 MB", L"circa 523 MB."},
    };
    for (const Case& c : cases) {
        wchar_t line[128];
        formatWide(line, c.catalog.progressFormat, 12LL, 240LL);
        EXPECT_STREQ(line, c.progress);
        wchar_t disk[256];
        formatWide(disk, c.catalog.diskSpaceFormat, 523LL);
        EXPECT_NE(std::wstring(disk).find(c.disk), std::wstring::npos) << c.catalog.languageCode;
    }
}

TEST(Catalogs, FrenchTextsUseDeBeforeConsonantAndPlainSpaces) {
    const MessageCatalog& fr = widenedCatalog(3);
    EXPECT_STREQ(fr.downloadingText, L"T\u00e9l\u00e9chargement de Skyloom\u2026");
    const std::wstring invalid = fr.invalidInstallerText;
    EXPECT_NE(invalid.find(L"Quorvane : il"), std::wstring::npos);
    EXPECT_NE(invalid.find(L"R\u00e9essaie ; si"), std::wstring::npos);
    EXPECT_NE(std::wstring(fr.policyAdvice).find(L"ex\u00e9cuter : demande"), std::wstring::npos);
    for (std::size_t k = 0; k < kCatalogItemCount; ++k) {
        EXPECT_EQ(item(fr, k).find_first_of(L"\u00a0\u2019"), std::wstring::npos) << k;
    }
}

} // namespace
