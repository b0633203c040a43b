#include "build_config.h"

#include <windows.h>

#include "base/wide_format.h"
#include "ui/message_catalog.h"

#include <gtest/gtest.h>

#include <string>

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
        EXPECT_EQ(catalogFor(c.request, c.uiLanguage).languageCode, c.expected)
            << "request [" << std::string(c.request.begin(), c.request.end()) << "] langid "
            << c.uiLanguage;
    }
}

TEST(Catalogs, SixLanguagesInOrderTwentySixItems) {
    const wchar_t* codes[] = {L"en", L"pt", L"es", L"fr", L"de", L"it"};
    ASSERT_EQ(kCatalogs.size(), 6u);
    ASSERT_EQ(kCatalogItemCount, 26u);
    for (std::size_t i = 0; i < kCatalogs.size(); ++i) {
        EXPECT_STREQ(kCatalogs[i].languageCode, codes[i]);
        EXPECT_STREQ(kCatalogs[i].productName, L"Skyloom");
        for (std::size_t k = 0; k < kCatalogItemCount; ++k) {
            EXPECT_FALSE(item(kCatalogs[i], k).empty()) << codes[i] << " item " << k;
            // The failure dialog reads its content as markup: a '<' could make a link.
            EXPECT_EQ(item(kCatalogs[i], k).find(L'<'), std::wstring::npos) << codes[i] << k;
        }
    }
}

TEST(Catalogs, ProgressFacesEndWithOneEllipsisCharacter) {
    for (const MessageCatalog& c : kCatalogs) {
        for (const wchar_t* text : {c.connectingText, c.downloadingText, c.checkingText}) {
            const std::wstring s = text;
            EXPECT_EQ(s.back(), L'\u2026') << c.languageCode;
            EXPECT_EQ(s.find(L"..."), std::wstring::npos) << c.languageCode;
        }
    }
}

TEST(Catalogs, SupportAddressEndsItems9To11And12) {
    const std::wstring ending = L" " SKYLOOM_SUPPORT_EMAIL L".";
    for (const MessageCatalog& c : kCatalogs) {
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
        {kCatalogs[0], L"12 MB of 240 MB", L"About 523 MB are needed."},
        {kCatalogs[1], L"12 MB de 240 MB", L"cerca de 523 MB."},
        {kCatalogs[2], L"12 MB de 240 MB", L"unos 523 MB."},
        {kCatalogs[3], L"12 Mo sur 240 Mo", L"environ 523 Mo."},
        {kCatalogs[4], L"12 MB von 240 MB", L"etwa 523 MB ben\u00f6tigt."},
        {kCatalogs[5], L"12 MB di 240 MB", L"circa 523 MB."},
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
    const MessageCatalog& fr = kCatalogs[3];
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
