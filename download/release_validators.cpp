#include "download/release_validators.h"

#include "download/response_rules.h"

#include <array>
#include <cstddef>
#include <type_traits>

namespace {

constexpr std::string_view kFormatLine = "skyloom-validadores 1";
constexpr std::string_view kFormatWord = "skyloom-validadores ";
constexpr std::string_view kEndLine = "fim";

// substr without its range check: the check's exception would bring the runtime's whole
// family of them into the program. `from` is clamped to the text.
template <typename Char>
std::basic_string_view<Char> slice(std::basic_string_view<Char> text, std::size_t from,
                                   std::size_t count = std::basic_string_view<Char>::npos) {
    from = from < text.size() ? from : text.size();
    const std::size_t left = text.size() - from;
    return {text.data() + from, count < left ? count : left};
}

constexpr std::string_view kShortDays = "MonTueWedThuFriSatSun";
constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";

// The three forms of an HTTP-date as patterns: 'a' a short day name, 'A' a long one (read as
// its first three letters and the letters up to the comma), 'n' a month, 'D' 'Y' 'h' 'm' 's'
// one digit of day, year, hour, minute, second, '_' a space or a digit of the day; anything
// else stands for itself.
// Narrow, to keep the program small; the text they read is wide.
constexpr std::array<std::string_view, 3> kDateForms = {
    "a, DD n YYYY hh:mm:ss GMT", // IMF-fixdate
    "A, DD-n-YY hh:mm:ss GMT",   // RFC 850
    "a n _D hh:mm:ss YYYY",      // asctime
};
constexpr std::string_view kDateDigits = "DYhms_"; // '_' counts into the day

bool printable(wchar_t c) {
    return c >= 0x20 && c <= 0x7E;
}

bool printableAscii(std::wstring_view text) {
    for (const wchar_t c : text) {
        if (!printable(c)) {
            return false;
        }
    }
    return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

int daysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The index of the three letters at `at` among `names`, a run of three-letter names; -1 if none.
int threeLetterName(std::wstring_view text, std::size_t at, std::string_view names) {
    for (std::size_t i = 0; at + 3 <= text.size() && i < names.size(); i += 3) {
        if (text[at] == names[i] && text[at + 1] == names[i + 1] && text[at + 2] == names[i + 2]) {
            return static_cast<int>(i / 3);
        }
    }
    return -1;
}

std::optional<std::int64_t> dateOfForm(std::wstring_view text, std::string_view form) {
    int parts[5] = {}; // day, year, hour, minute, second
    int yearDigits = 0;
    int month = -1;
    std::size_t at = 0;
    for (const char step : form) {
        const wchar_t c = at < text.size() ? text[at] : L'\0';
        const bool digit = c >= L'0' && c <= L'9';
        const std::size_t part = kDateDigits.find(step);
        if (step == 'a' || step == 'A' || step == 'n') {
            const int index = threeLetterName(text, at, step == 'n' ? kMonths : kShortDays);
            if (index < 0) {
                return std::nullopt;
            }
            month = step == 'n' ? index : month;
            at += 3;
            while (step == 'A' && at < text.size() && text[at] >= L'a' && text[at] <= L'z') {
                ++at;
            }
        } else if (part != std::string_view::npos && (digit || (step == '_' && c == L' '))) {
            int& value = parts[part % 5];
            value = digit ? value * 10 + (c - L'0') : value;
            yearDigits += step == 'Y' ? 1 : 0;
            ++at;
        } else if (part != std::string_view::npos || c != static_cast<wchar_t>(step)) {
            return std::nullopt;
        } else {
            ++at;
        }
    }
    auto [day, year, hour, minute, second] = parts;
    if (yearDigits == 2) {
        // RFC 850's two digits: below 70 this century's.
        year += year < 70 ? 2000 : 1900;
    }
    if (at != text.size() || month < 0 || day < 1 || day > daysInMonth(year, month + 1) ||
        hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    return daysFromCivil(year, month + 1, day) * 86400 + hour * 3600 + minute * 60 + second;
}

// The fields after the total, in the order they are written, each at most once: the three
// validators' buffers, then the URL.
struct TextField {
    std::string_view key;
    std::size_t capacity; // with the terminator
};
constexpr std::array<TextField, 4> kTextFields = {{
    {"etag", kEtagCapacity},
    {"last-modified", kHttpDateCapacity},
    {"date", kHttpDateCapacity},
    {"url", kMaxValidatorUrlLength + 1},
}};

// Copies a text that fits, with its terminator.
template <typename Text> void copyInto(wchar_t* out, Text text) {
    for (const auto c : text) {
        *out++ = static_cast<wchar_t>(static_cast<std::make_unsigned_t<decltype(c)>>(c));
    }
    *out = L'\0';
}

// The value of "key value" when `line` is that line; empty otherwise. A value is never empty:
// an empty field is not written at all.
std::string_view valueOf(std::string_view line, std::string_view key) {
    if (line.size() <= key.size() + 1 || !line.starts_with(key) || line[key.size()] != ' ') {
        return {};
    }
    return slice(line, key.size() + 1);
}

// The total as formatValidatorFile writes it: digits without a leading zero, within the
// installer's bounds; 0 otherwise.
std::int64_t totalOf(std::string_view digits) {
    std::int64_t total = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || (c == '0' && total == 0) || total > kMaxInstallerSize) {
            return 0;
        }
        total = total * 10 + (c - '0');
    }
    return sizeAcceptable(total) ? total : 0;
}

bool dateLike(std::wstring_view text) {
    return text.size() < kHttpDateCapacity && printableAscii(text);
}

} // namespace

bool hasValidators(const ReleaseValidators& validators) {
    return validators.etag[0] != L'\0' || validators.lastModified[0] != L'\0';
}

bool strongEtag(std::wstring_view text) {
    if (text.size() < 2 || text.size() > kMaxEtagLength || text.front() != L'"' ||
        text.back() != L'"') {
        return false;
    }
    // RFC 9110's etagc without obs-text: printable ASCII but space and the quote.
    for (const wchar_t c : slice(text, 1, text.size() - 2)) {
        if (c == L'"' || c == L' ' || !printable(c)) {
            return false;
        }
    }
    return true;
}

ReleaseValidators keptFromAnswer(std::int64_t total, std::wstring_view etag,
                                 std::wstring_view lastModified, std::wstring_view date) {
    ReleaseValidators validators;
    validators.total = total;
    if (strongEtag(etag)) {
        copyInto(validators.etag, etag);
    }
    if (dateLike(lastModified)) {
        copyInto(validators.lastModified, lastModified);
    }
    if (dateLike(date)) {
        copyInto(validators.date, date);
    }
    return validators;
}

std::optional<std::int64_t> httpDateSeconds(std::wstring_view text) {
    for (const std::string_view form : kDateForms) {
        if (const auto seconds = dateOfForm(text, form)) {
            return seconds;
        }
    }
    return std::nullopt;
}

namespace {

// kStrongDateSeconds: a server that gives each answer's time as its Last-Modified changes it
// with every answer.
bool lastModifiedProves(const ReleaseValidators& validators) {
    const auto modified = httpDateSeconds(validators.lastModified);
    const auto date = httpDateSeconds(validators.date);
    return modified && date && *date - *modified >= kStrongDateSeconds;
}

} // namespace

ResumeProof resumeProof(const ReleaseValidators& validators) {
    if (!hasValidators(validators)) {
        return ResumeProof::NoneKept;
    }
    if (validators.etag[0] != L'\0') {
        return ResumeProof::Etag;
    }
    return lastModifiedProves(validators) ? ResumeProof::LastModified : ResumeProof::Unprovable;
}

std::wstring_view ifRangeValue(const ReleaseValidators& validators) {
    switch (resumeProof(validators)) {
    case ResumeProof::Etag:
        return validators.etag;
    case ResumeProof::LastModified:
        return validators.lastModified;
    case ResumeProof::NoneKept:
    case ResumeProof::Unprovable:
        break;
    }
    return {};
}

bool sameRelease(const ReleaseValidators& kept, std::wstring_view etag,
                 std::wstring_view lastModified, std::int64_t total) {
    const ResumeProof proof = resumeProof(kept);
    if (proof == ResumeProof::NoneKept) {
        return true;
    }
    // Strong comparison: a weak tag never equals the strong one kept.
    if (total != kept.total || (proof == ResumeProof::Etag && etag != kept.etag)) {
        return false;
    }
    return lastModified.empty() || !lastModifiedProves(kept) || lastModified == kept.lastModified;
}

std::size_t formatValidatorFile(const ReleaseValidators& validators, std::wstring_view url,
                                char (&out)[kMaxValidatorFileBytes]) {
    // Every field fits: 22 + 26 + 262 + 78 + 69 + 2053 + 4 bytes at most.
    std::size_t length = 0;
    const auto put = [&](std::string_view text) {
        for (const char c : text) {
            out[length++] = c;
        }
    };
    put(kFormatLine);
    put("\ntotal ");
    char digits[20];
    std::size_t count = 0;
    for (std::int64_t n = validators.total > 0 ? validators.total : 0; count == 0 || n > 0;
         n /= 10) {
        digits[count++] = static_cast<char>('0' + n % 10);
    }
    while (count > 0) {
        out[length++] = digits[--count];
    }
    out[length++] = '\n';
    const std::wstring_view values[] = {validators.etag, validators.lastModified, validators.date,
                                        slice(url, 0, kMaxValidatorUrlLength)};
    for (std::size_t i = 0; i < kTextFields.size(); ++i) {
        if (!values[i].empty()) {
            put(kTextFields[i].key);
            out[length++] = ' ';
            for (const wchar_t c : values[i]) {
                out[length++] = printable(c) ? static_cast<char>(c) : '?';
            }
            out[length++] = '\n';
        }
    }
    put(kEndLine);
    out[length++] = '\n';
    return length;
}

ParsedValidators parseValidatorFile(std::string_view bytes) {
    using enum ValidatorFileVerdict;
    if (bytes.size() > kMaxValidatorFileBytes) {
        return {TooLong, {}, {}};
    }
    if (!bytes.starts_with(kFormatWord)) {
        // Cut before its first line was whole, or something else altogether.
        return {kFormatWord.starts_with(bytes) ? Torn : OtherFormat, {}, {}};
    }
    const std::size_t firstEnd = bytes.find('\n');
    if (firstEnd == std::string_view::npos) {
        return {Torn, {}, {}};
    }
    if (slice(bytes, 0, firstEnd) != kFormatLine) {
        return {OtherFormat, {}, {}};
    }
    if (!bytes.ends_with("\nfim\n")) {
        return {Torn, {}, {}};
    }
    // Between the format line and the end line "fim": the total first, then the others.
    std::string_view rest = slice(bytes, firstEnd + 1, bytes.size() - firstEnd - 1 - 4);
    const auto nextLine = [&rest] {
        const std::size_t end = rest.find('\n');
        const std::string_view line = slice(rest, 0, end);
        rest = end == std::string_view::npos ? std::string_view{} : slice(rest, end + 1);
        return line;
    };
    ParsedValidators parsed{Usable, {}, {}};
    ReleaseValidators& validators = parsed.validators;
    validators.total = totalOf(valueOf(nextLine(), "total"));
    std::array<std::string_view, kTextFields.size()> values;
    std::size_t next = 0;
    while (validators.total > 0 && !rest.empty()) {
        const std::string_view line = nextLine();
        std::string_view value;
        while (next < kTextFields.size() &&
               (value = valueOf(line, kTextFields[next].key)).empty()) {
            ++next;
        }
        if (next == kTextFields.size() || value.size() >= kTextFields[next].capacity) {
            return {Malformed, {}, {}};
        }
        for (const char c : value) {
            if (!printable(static_cast<unsigned char>(c))) {
                return {Malformed, {}, {}};
            }
        }
        values[next++] = value;
    }
    copyInto(validators.etag, values[0]);
    copyInto(validators.lastModified, values[1]);
    copyInto(validators.date, values[2]);
    parsed.url = values[3];
    if (validators.total == 0 || (validators.etag[0] != L'\0' && !strongEtag(validators.etag)) ||
        !hasValidators(validators)) {
        return {Malformed, {}, {}};
    }
    return parsed;
}

const wchar_t* validatorFileProblem(ValidatorFileVerdict verdict) {
    switch (verdict) {
    case ValidatorFileVerdict::TooLong:
        return L"longo demais";
    case ValidatorFileVerdict::Torn:
        return L"cortado";
    case ValidatorFileVerdict::OtherFormat:
        return L"outro formato";
    case ValidatorFileVerdict::Malformed:
        return L"mal formado";
    case ValidatorFileVerdict::Usable:
        break;
    }
    return L"";
}
