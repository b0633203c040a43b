// The answer to a proxy's 407 with WinHTTP and the person stood in for: which calls go to which
// request, the account's policy and credentials, the answer kept sealed and given again.

#include "job/setup_job.h"
#include "download/proxy_sign_in.h"
#include "ui/proxy_prompt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

HINTERNET const kFirst = reinterpret_cast<HINTERNET>(0x1000);
HINTERNET const kSecond = reinterpret_cast<HINTERNET>(0x2000);

// One call on a request, as the fake saw it: "policy VALUE" or "credentials TARGET SCHEME
// USER PASSWORD" ("-" for none).
struct Call {
    HINTERNET request;
    std::wstring what;
    bool operator==(const Call&) const = default;
};

struct FakeWorld {
    DWORD offered = 0;
    DWORD target = WINHTTP_AUTH_TARGET_PROXY;
    bool accountCredentialsFail = false;
    // What the person types; empty: Cancel.
    std::wstring user;
    std::wstring password;
    int asked = 0;
    std::vector<Call> calls;
};

FakeWorld* world = nullptr;

BOOL WINAPI fakeQuery(HINTERNET, LPDWORD offered, LPDWORD first, LPDWORD target) {
    *offered = world->offered;
    *first = 0;
    *target = world->target;
    return TRUE;
}

BOOL WINAPI fakeSetOption(HINTERNET request, DWORD option, LPVOID value, DWORD bytes) {
    EXPECT_EQ(option, static_cast<DWORD>(WINHTTP_OPTION_AUTOLOGON_POLICY));
    EXPECT_EQ(bytes, sizeof(DWORD));
    world->calls.push_back(
        {request, L"policy " + std::to_wstring(*static_cast<const DWORD*>(value))});
    return TRUE;
}

BOOL WINAPI fakeSetCredentials(HINTERNET request, DWORD target, DWORD scheme, LPCWSTR user,
                               LPCWSTR password, LPVOID) {
    world->calls.push_back({request, L"credentials " + std::to_wstring(target) + L" " +
                                         std::to_wstring(scheme) + L" " + (user ? user : L"-") +
                                         L" " + (password ? password : L"-")});
    return !(world->accountCredentialsFail && user == nullptr);
}

// As the dialog's thread answers: the typed answer sealed in the job, or Closed.
ProxyPrompt fakeAsk(SetupJob& job) {
    ++world->asked;
    ProxySignIn& signIn = job.proxySignIn;
    if (world->user.empty()) {
        signIn.prompt.store(ProxyPrompt::Closed);
        return ProxyPrompt::Closed;
    }
    wipeProxyCredentials(signIn.sealed);
    world->user.copy(signIn.sealed.user, world->user.size());
    world->password.copy(signIn.sealed.password, world->password.size());
    signIn.kept = sealProxyCredentials(signIn.sealed);
    return ProxyPrompt::Answered;
}

const ProxySignInIo kFakeIo{fakeQuery, fakeSetOption, fakeSetCredentials, fakeAsk};

class ProxySignInSeam : public ::testing::Test {
  protected:
    void SetUp() override { world = &fake; }
    void TearDown() override { world = nullptr; }

    bool answer(HINTERNET request, ProxyTries& tried) {
        return answerProxyWith(kFakeIo, job, request, tried);
    }

    FakeWorld fake;
    SetupJob job;
};

const std::wstring kLowPolicy = L"policy " + std::to_wstring(WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW);

TEST_F(ProxySignInSeam, TheAccountGoesToTheProxyTargetWithThePolicyRelaxedOnThatRequestOnly) {
    fake.offered = WINHTTP_AUTH_SCHEME_NTLM | WINHTTP_AUTH_SCHEME_NEGOTIATE;
    job.proxySignIn.prompt.store(ProxyPrompt::Closed); // no window
    ProxyTries first;
    EXPECT_TRUE(answer(kFirst, first));
    // The 407 again: the logon was refused, and nobody is asked.
    EXPECT_FALSE(answer(kFirst, first));
    ProxyTries second;
    EXPECT_TRUE(answer(kSecond, second));
    const std::vector<Call> expected = {{kFirst, kLowPolicy},
                                        {kFirst, L"credentials 1 16 - -"},
                                        {kSecond, kLowPolicy},
                                        {kSecond, L"credentials 1 16 - -"}};
    EXPECT_EQ(fake.calls, expected);
    EXPECT_EQ(fake.asked, 0);

    // A 401 (the server's target) gets nothing.
    fake.target = WINHTTP_AUTH_TARGET_SERVER;
    ProxyTries third;
    EXPECT_FALSE(answer(kFirst, third));
    EXPECT_EQ(fake.calls.size(), expected.size());
}

TEST_F(ProxySignInSeam, APersonIsAskedOnceAndTheAnswerServesLaterRequests) {
    fake.offered = WINHTTP_AUTH_SCHEME_BASIC;
    fake.user = L"ana";
    fake.password = L"segredo";
    ProxyTries first;
    EXPECT_TRUE(answer(kFirst, first));
    ProxyTries second;
    EXPECT_TRUE(answer(kSecond, second));
    // The person's password never relaxes the policy.
    const std::vector<Call> expected = {{kFirst, L"credentials 1 1 ana segredo"},
                                        {kSecond, L"credentials 1 1 ana segredo"}};
    EXPECT_EQ(fake.calls, expected);
    EXPECT_EQ(fake.asked, 1);
}

TEST_F(ProxySignInSeam, ARefusedAnswerIsAskedAgainThreeTimesAtMostInARun) {
    fake.offered = WINHTTP_AUTH_SCHEME_NTLM | WINHTTP_AUTH_SCHEME_BASIC;
    fake.user = L"ana";
    fake.password = L"errada";
    ProxyTries tried;
    EXPECT_TRUE(answer(kFirst, tried)); // the account
    EXPECT_TRUE(answer(kFirst, tried)); // first prompt
    EXPECT_FALSE(job.proxySignIn.refused);
    EXPECT_TRUE(answer(kFirst, tried)); // refused: the second
    EXPECT_TRUE(job.proxySignIn.refused);
    ProxyTries next;
    EXPECT_TRUE(answer(kSecond, next)); // the account again, then the kept answer
    EXPECT_TRUE(answer(kSecond, next));
    EXPECT_TRUE(answer(kSecond, next)); // the third prompt
    EXPECT_FALSE(answer(kSecond, next));
    EXPECT_EQ(fake.asked, 3);
    // A typed password goes with NTLM, the strongest offered, never with Basic.
    for (const Call& call : fake.calls) {
        EXPECT_EQ(call.what.find(L"credentials 1 1 "), std::wstring::npos);
    }
}

TEST_F(ProxySignInSeam, ALogonThatCannotBeSetFallsToThePersonAndACancelEndsTheAsking) {
    fake.offered = WINHTTP_AUTH_SCHEME_NEGOTIATE;
    fake.accountCredentialsFail = true;
    ProxyTries tried;
    EXPECT_FALSE(answer(kFirst, tried)); // the account fails, the person cancels
    EXPECT_EQ(fake.asked, 1);
    ProxyTries next;
    EXPECT_FALSE(answer(kSecond, next));
    EXPECT_EQ(fake.asked, 1);
    EXPECT_FALSE(job.proxySignIn.kept);
}

// Wine 8's CryptProtectMemory leaves the bytes as they are: the sealing itself shows on Windows
// only, the round trip here.
TEST(ProxyCredentials, SealedThenOpenedGivesTheAnswerBackAndWipingLeavesZeros) {
    ProxyCredentials sealed{};
    std::wstring(L"ana").copy(sealed.user, 3);
    std::wstring(L"segredo").copy(sealed.password, 7);
    ASSERT_TRUE(sealProxyCredentials(sealed));
    ProxyCredentials open;
    ASSERT_TRUE(openProxyCredentials(sealed, open));
    EXPECT_STREQ(open.user, L"ana");
    EXPECT_STREQ(open.password, L"segredo");
    wipeProxyCredentials(open);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&open);
    EXPECT_EQ(std::count(bytes, bytes + sizeof open, 0), static_cast<long>(sizeof open));
}

TEST(ProxyPrompt, TheUserNameAsTyped) {
    struct Case {
        const wchar_t* returned;
        const wchar_t* kept;
    };
    const Case cases[] = {
        {L"proxy.corp:8080\\ana", L"ana"},
        {L"ana", L"ana"},
        {L"CORP\\ana", L"CORP\\ana"},
        {L"proxy.corp:8080\\", L""},
        {L"proxy.corp:808\\ana", L"proxy.corp:808\\ana"},
        {L"proxy.corp:8080\\CORP\\ana", L"CORP\\ana"},
    };
    for (const Case& c : cases) {
        wchar_t user[64] = {};
        std::wstring(c.returned).copy(user, 63);
        keepUserAsTyped(user, L"proxy.corp:8080");
        EXPECT_STREQ(user, c.kept) << c.returned;
    }
}

} // namespace
