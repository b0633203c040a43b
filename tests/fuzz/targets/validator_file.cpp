// The validator file kept beside the installer: any bytes read back either count as absent or
// give validators a resume may use, in the one spelling the program writes; and whatever an
// answer carries, what is kept of it is written and read back unchanged.

#include "download/release_validators.h"
#include "download/response_rules.h"
#include "fuzz_support.h"

#include <cwchar>

namespace {

void checkUsable(const ReleaseValidators& kept) {
    FUZZ_CHECK(sizeAcceptable(kept.total));
    FUZZ_CHECK(hasValidators(kept));
    FUZZ_CHECK(kept.etag[0] == L'\0' || strongEtag(kept.etag));
    FUZZ_CHECK(sameRelease(kept, kept.etag, kept.lastModified, kept.total));
    FUZZ_CHECK(!sameRelease(kept, kept.etag, kept.lastModified, kept.total + 1));
    const ResumeProof proof = resumeProof(kept);
    FUZZ_CHECK(proof != ResumeProof::NoneKept);
    // What goes into If-Range is one of the validators, and fits its header line.
    const std::wstring_view value = ifRangeValue(kept);
    FUZZ_CHECK(value.empty() == (proof == ResumeProof::Unprovable));
    FUZZ_CHECK(value.empty() || value == kept.etag || value == kept.lastModified);
    FUZZ_CHECK(value.size() + 11 <= kIfRangeHeaderCapacity);
}

bool sameKept(const ReleaseValidators& a, const ReleaseValidators& b) {
    return a.total == b.total && std::wcscmp(a.etag, b.etag) == 0 &&
           std::wcscmp(a.lastModified, b.lastModified) == 0 && std::wcscmp(a.date, b.date) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    char written[kMaxValidatorFileBytes];
    if (!data.ConsumeBool()) {
        const std::string file = data.ConsumeRemainingBytesAsString();
        const ParsedValidators parsed = parseValidatorFile(file);
        if (parsed.verdict == ValidatorFileVerdict::Usable) {
            checkUsable(parsed.kept);
            std::wstring url;
            for (const char c : parsed.url) {
                url += static_cast<wchar_t>(static_cast<unsigned char>(c));
            }
            FUZZ_CHECK(std::string_view(written, formatValidatorFile(parsed.kept, url, written)) ==
                       file);
        } else {
            FUZZ_CHECK(*validatorFileProblem(parsed.verdict) != L'\0');
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
    if (const auto seconds = httpDateSeconds(lastModified)) {
        // From the year 0 to the year 9999.
        FUZZ_CHECK(*seconds >= -62167219200 && *seconds < 253402300800);
    }
    if (!hasValidators(kept)) {
        FUZZ_CHECK(resumeProof(kept) == ResumeProof::NoneKept && ifRangeValue(kept).empty());
        return 0;
    }
    checkUsable(kept);
    const std::string_view file(written, formatValidatorFile(kept, url, written));
    const ParsedValidators back = parseValidatorFile(file);
    FUZZ_CHECK(back.verdict == ValidatorFileVerdict::Usable);
    FUZZ_CHECK(sameKept(back.kept, kept));
    FUZZ_CHECK(back.url.size() == std::min(url.size(), kMaxValidatorUrlLength));
    // Cut anywhere, it is never usable.
    const std::size_t cut = data.ConsumeIntegralInRange<std::size_t>(0, file.size() - 1);
    FUZZ_CHECK(parseValidatorFile(file.substr(0, cut)).verdict != ValidatorFileVerdict::Usable);
    return 0;
}
