#pragma once
// Which release a partial installer file holds, told by the validators of the answer that
// started it from zero (RFC 9110: ETag, Last-Modified, Date). A resume sends them back in
// If-Range, so that a server whose file changed answers with the whole new file, and a 206
// that does not carry the same ones is not appended to the old head. The pure half: the
// rules, and the text of the small file that keeps them beside the installer file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

inline constexpr std::size_t kMaxEtagLength = 256;
// Header buffers with the terminator: a longer value fails its query and reads as absent.
inline constexpr std::size_t kEtagCapacity = kMaxEtagLength + 1;
inline constexpr std::size_t kHttpDateCapacity = 64;
// "If-Range: " and the longest value kept.
inline constexpr std::size_t kIfRangeHeaderCapacity = 16 + kMaxEtagLength;
// A Last-Modified stands for one version of the file only when it is this much older than the
// answer's Date (RFC 9110 section 8.8.2.2).
inline constexpr std::int64_t kStrongDateSeconds = 60;

inline constexpr std::size_t kMaxValidatorFileBytes = 4096;
// Only for the log: what is left of the room once the other fields are in.
inline constexpr std::size_t kMaxValidatorUrlLength = 2048;

// Fixed buffers, so that the file's position between attempts is copied as plain bytes.
struct ReleaseValidators {
    std::int64_t total = 0;                       // the size the answer announced
    wchar_t etag[kEtagCapacity] = {};             // strong and quoted, or empty
    wchar_t lastModified[kHttpDateCapacity] = {}; // as the server sent it, or empty
    wchar_t date[kHttpDateCapacity] = {};         // the answer's Date, or empty
};

// Kept at all: a strong ETag or a Last-Modified.
[[nodiscard]] bool hasValidators(const ReleaseValidators& validators);

// Quoted, not weak ("W/"), printable ASCII without a quote inside, at most 256 characters.
[[nodiscard]] bool strongEtag(std::wstring_view text);

// What an answer taken whole leaves to keep: the ETag only when strong, the dates only when
// printable ASCII and short enough to be dates.
[[nodiscard]] ReleaseValidators keptFromAnswer(std::int64_t total, std::wstring_view etag,
                                               std::wstring_view lastModified,
                                               std::wstring_view date);

// Seconds since 1970 of an HTTP-date in any of its three forms (IMF-fixdate, RFC 850 and
// asctime); nothing when the text is none of them.
[[nodiscard]] std::optional<std::int64_t> httpDateSeconds(std::wstring_view text);

enum class ResumeProof {
    NoneKept,     // nothing kept (an older build's partial, a server that sends none): Range only
    Etag,         // If-Range with the strong ETag
    LastModified, // If-Range with Last-Modified, verbatim
    // Kept, but nothing strong (a Last-Modified that is the answer's own time): Range only, as
    // with none kept, and a 206 must announce the kept total. Emptying the file instead would
    // never let a download end on a link that breaks every few hundred kilobytes.
    Unprovable,
};

[[nodiscard]] ResumeProof resumeProof(const ReleaseValidators& validators);

// The If-Range value for a proof of Etag or LastModified; empty otherwise.
[[nodiscard]] std::wstring_view ifRangeValue(const ReleaseValidators& validators);

// Whether an answer's validators and total are those of the kept release, judged by what the
// resume sent: the same total always; the ETag sent in If-Range present and the same (RFC 9110
// section 15.3.7 requires it in a 206 wherever a 200 would carry it); a Last-Modified that
// proves the release the same when present, and agreement when omitted (the same section asks
// a 206 to If-Range not to repeat it). A Last-Modified that proves nothing is not compared.
// With nothing kept every answer passes, as before.
[[nodiscard]] bool sameRelease(const ReleaseValidators& kept, std::wstring_view etag,
                               std::wstring_view lastModified, std::int64_t total);

// The file's text into `out`: a format line, one line per field, the URL that served them
// (for the log only: cut to its room, every character outside printable ASCII as '?') and an
// end line that a torn write lacks. Returns its length.
std::size_t formatValidatorFile(const ReleaseValidators& validators, std::wstring_view url,
                                char (&out)[kMaxValidatorFileBytes]);

enum class ValidatorFileVerdict { Usable, TooLong, Torn, OtherFormat, Malformed };

struct ParsedValidators {
    ValidatorFileVerdict verdict = ValidatorFileVerdict::Malformed;
    ReleaseValidators validators; // only with Usable
    std::string_view url;         // within the bytes read, only with Usable
};

// Any bytes: a file that is not exactly what formatValidatorFile writes, with a total in the
// installer's bounds and a validator kept, is not usable.
[[nodiscard]] ParsedValidators parseValidatorFile(std::string_view bytes);

// The log's word for a verdict other than Usable.
[[nodiscard]] const wchar_t* validatorFileProblem(ValidatorFileVerdict verdict);
