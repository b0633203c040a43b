// The result table's choices for any 32-bit code: the retry class, the failure dialog's
// message and the trust-check flag. Every code the program makes has its own row; anything
// else falls to the generic message and the next URL.

#include "job/result_codes.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const auto value = data.ConsumeIntegral<std::int32_t>();
    const auto code = static_cast<SetupResult>(value);
    const ResultInfo& info = resultInfo(code);
    bool known = false;
    for (const ResultInfo& row : kResultTable) {
        known = known || row.code == code;
    }
    if (known) {
        FUZZ_CHECK(info.code == code);
    } else {
        FUZZ_CHECK(info.message == FailureMessage::Generic);
        FUZZ_CHECK(info.retryClass == RetryClass::NextUrl);
        FUZZ_CHECK(!info.failsTrustCheck);
    }
    // Only success and the three endings without a dialog show nothing.
    FUZZ_CHECK((info.message == FailureMessage::NotShown) == (known && value >= 0 && value <= 3));
    FUZZ_CHECK(info.failsTrustCheck == (known && value >= 20 && value <= 22));
    return 0;
}
