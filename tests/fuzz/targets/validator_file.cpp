// The validator file kept beside the installer: any bytes read back either count as absent or
// give validators a resume may use, in the one spelling the program writes; and what is kept
// of any answer is written and read back unchanged, and never read back once cut.

#include "download/release_validators.h"
#include "download/response_rules.h"
#include "fuzz_support.h"

#include <cwchar>

namespace {

void checkUsable(const ReleaseValidators& kept) {
    FUZZ_CHECK(sizeAcceptable(kept.total) && hasValidators(kept));
    FUZZ_CHECK(kept.etag[0] == L'\0' || strongEtag(kept.etag));
    FUZZ_CHECK(sameRelease(kept, kept.etag, kept.lastModified, kept.total));
    // A 206 to If-Range need not repeat Last-Modified; no answer of another size is the same.
    FUZZ_CHECK(sameRelease(kept, kept.etag, L"", kept.total));
    FUZZ_CHECK(!sameRelease(kept, kept.etag, kept.lastModified, kept.total + 1));
    // What goes into If-Range is one of the validators, and fits its header line.
    const std::wstring_view value = ifRangeValue(kept);
    FUZZ_CHECK(value.empty() == (resumeProof(kept) == ResumeProof::Unprovable));
    FUZZ_CHECK(value.empty() || value == kept.etag || value == kept.lastModified);
    FUZZ_CHECK(value.size() + 11 <= kIfRangeHeaderCapacity);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    char written[kMaxValidatorFileBytes];
    if (!data.ConsumeBool()) {
        const std::string file = data.ConsumeRemainingBytesAsString();
        const ParsedValidators parsed = parseValidatorFile(file);
        if (parsed.verdict == ValidatorFileVerdict::Usable) {
            checkUsable(parsed.validators);
            const std::wstring url(parsed.url.begin(), parsed.url.end());
            FUZZ_CHECK(std::string_view(
                           written, formatValidatorFile(parsed.validators, url, written)) == file);
        }
        return 0;
    }
    const auto total = data.ConsumeIntegralInRange(kMinInstallerSize, kMaxInstallerSize);
    const std::wstring etag = headerText(data, kEtagCapacity);
    const std::wstring lastModified = headerText(data, kHttpDateCapacity);
    const std::wstring date = headerText(data, kHttpDateCapacity);
    const std::wstring url = utf16Units(data, 2 * kMaxValidatorUrlLength);
    const ReleaseValidators kept = keptFromAnswer(total, etag, lastModified, date);
    FUZZ_CHECK(kept.etag == (strongEtag(etag) ? etag : L""));
    if (!hasValidators(kept)) {
        FUZZ_CHECK(resumeProof(kept) == ResumeProof::NoneKept);
        return 0;
    }
    checkUsable(kept);
    const std::string_view file(written, formatValidatorFile(kept, url, written));
    const ParsedValidators back = parseValidatorFile(file);
    FUZZ_CHECK(back.verdict == ValidatorFileVerdict::Usable && back.validators.total == total);
    FUZZ_CHECK(std::wcscmp(back.validators.etag, kept.etag) == 0 &&
               std::wcscmp(back.validators.lastModified, kept.lastModified) == 0 &&
               std::wcscmp(back.validators.date, kept.date) == 0);
    FUZZ_CHECK(back.url.size() == std::min(url.size(), kMaxValidatorUrlLength));
    const std::size_t cut = data.ConsumeIntegralInRange<std::size_t>(0, file.size() - 1);
    FUZZ_CHECK(parseValidatorFile(file.substr(0, cut)).verdict != ValidatorFileVerdict::Usable);
    return 0;
}
