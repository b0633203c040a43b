#include "download/release_validators.h"

#include "download/response_rules.h"

#include <array>
#include <charconv>

namespace {

constexpr std::string_view kFormatLine = "skyloom-validadores 1";
constexpr std::string_view kFormatWord = "skyloom-validadores ";
constexpr std::string_view kEndLine = "fim";

constexpr std::array<std::wstring_view, 7> kShortDays = {L"Mon", L"Tue", L"Wed", L"Thu",
                                                         L"Fri", L"Sat", L"Sun"};
constexpr std::array<std::wstring_view, 7> kLongDays = {
    L"Monday", L"Tuesday", L"Wednesday", L"Thursday", L"Friday", L"Saturday", L"Sunday"};
constexpr std::array<std::wstring_view, 12> kMonths = {
    L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun", L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

// substr without its range check: the check's exception would bring the runtime's whole
// family of them into the program. `from` is clamped to the text.
template <typename Char>
std::basic_string_view<Char> slice(std::basic_string_view<Char> text, std::size_t from,
                                   std::size_t count = std::basic_string_view<Char>::npos) {
    from = from < text.size() ? from : text.size();
    const std::size_t left = text.size() - from;
    return {text.data() + from, count < left ? count : left};
}

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

// Reads the text left to right; every step either matches and moves on or fails for good.
class DateReader {
  public:
    explicit DateReader(std::wstring_view text) : text_(text) {}

    bool literal(std::wstring_view expected) {
        if (slice(text_, at_, expected.size()) != expected) {
            return false;
        }
        at_ += expected.size();
        return true;
    }

    template <std::size_t N>
    bool oneOf(const std::array<std::wstring_view, N>& names, int* index = nullptr) {
        for (std::size_t i = 0; i < N; ++i) {
            if (literal(names[i])) {
                if (index != nullptr) {
                    *index = static_cast<int>(i);
                }
                return true;
            }
        }
        return false;
    }

    bool number(std::size_t count, int& value) {
        if (text_.size() - at_ < count) {
            return false;
        }
        value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const wchar_t c = text_[at_ + i];
            if (c < L'0' || c > L'9') {
                return false;
            }
            value = value * 10 + (c - L'0');
        }
        at_ += count;
        return true;
    }

    bool clock(int& hour, int& minute, int& second) {
        return number(2, hour) && literal(L":") && number(2, minute) && literal(L":") &&
               number(2, second);
    }

    bool ended() const { return at_ == text_.size(); }

  private:
    std::wstring_view text_;
    std::size_t at_ = 0;
};

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

struct DateParts {
    int year = 0;
    int month = -1; // 0..11
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

std::optional<std::int64_t> secondsOf(const DateParts& d) {
    if (d.month < 0 || d.day < 1 || d.day > daysInMonth(d.year, d.month + 1) || d.hour > 23 ||
        d.minute > 59 || d.second > 60) {
        return std::nullopt;
    }
    return daysFromCivil(d.year, d.month + 1, d.day) * 86400 + d.hour * 3600 + d.minute * 60 +
           d.second;
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<std::int64_t> imfFixdate(std::wstring_view text) {
    DateReader r(text);
    DateParts d;
    if (r.oneOf(kShortDays) && r.literal(L", ") && r.number(2, d.day) && r.literal(L" ") &&
        r.oneOf(kMonths, &d.month) && r.literal(L" ") && r.number(4, d.year) && r.literal(L" ") &&
        r.clock(d.hour, d.minute, d.second) && r.literal(L" GMT") && r.ended()) {
        return secondsOf(d);
    }
    return std::nullopt;
}

// "Sunday, 06-Nov-94 08:49:37 GMT"; a two-digit year below 70 is taken as this century's.
std::optional<std::int64_t> rfc850Date(std::wstring_view text) {
    DateReader r(text);
    DateParts d;
    if (r.oneOf(kLongDays) && r.literal(L", ") && r.number(2, d.day) && r.literal(L"-") &&
        r.oneOf(kMonths, &d.month) && r.literal(L"-") && r.number(2, d.year) && r.literal(L" ") &&
        r.clock(d.hour, d.minute, d.second) && r.literal(L" GMT") && r.ended()) {
        d.year += d.year < 70 ? 2000 : 1900;
        return secondsOf(d);
    }
    return std::nullopt;
}

// "Sun Nov  6 08:49:37 1994"
std::optional<std::int64_t> asctimeDate(std::wstring_view text) {
    DateReader r(text);
    DateParts d;
    if (!r.oneOf(kShortDays) || !r.literal(L" ") || !r.oneOf(kMonths, &d.month) ||
        !r.literal(L" ")) {
        return std::nullopt;
    }
    const bool dayRead = r.literal(L" ") ? r.number(1, d.day) : r.number(2, d.day);
    if (dayRead && r.literal(L" ") && r.clock(d.hour, d.minute, d.second) && r.literal(L" ") &&
        r.number(4, d.year) && r.ended()) {
        return secondsOf(d);
    }
    return std::nullopt;
}

void appendLine(std::string& out, std::string_view key, std::wstring_view value) {
    if (value.empty()) {
        return;
    }
    out += key;
    out += ' ';
    // Every field is printable ASCII by now.
    for (const wchar_t c : value) {
        out += static_cast<char>(c);
    }
    out += '\n';
}

// The value of "key value" when `line` is that line; nothing otherwise.
std::optional<std::wstring> field(std::string_view line, std::string_view key) {
    // A value is never empty: an empty field is not written at all.
    if (line.size() <= key.size() + 1 || !line.starts_with(key) || line[key.size()] != ' ') {
        return std::nullopt;
    }
    std::wstring value;
    for (const char c : slice(line, key.size() + 1)) {
        if (!printable(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        value += static_cast<wchar_t>(c);
    }
    return value;
}

bool dateLike(std::wstring_view text) {
    return text.size() < kHttpDateCapacity && printableAscii(text);
}

} // namespace

bool hasValidators(const ReleaseValidators& kept) {
    return !kept.etag.empty() || !kept.lastModified.empty();
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
                                 std::wstring_view lastModified, std::wstring_view date,
                                 std::wstring_view url) {
    ReleaseValidators kept;
    kept.total = total;
    if (strongEtag(etag)) {
        kept.etag = etag;
    }
    if (dateLike(lastModified)) {
        kept.lastModified = lastModified;
    }
    if (dateLike(date)) {
        kept.date = date;
    }
    for (const wchar_t c : slice(url, 0, kMaxValidatorUrlLength)) {
        kept.url += printable(c) ? c : L'?';
    }
    return kept;
}

std::optional<std::int64_t> httpDateSeconds(std::wstring_view text) {
    if (auto seconds = imfFixdate(text)) {
        return seconds;
    }
    if (auto seconds = rfc850Date(text)) {
        return seconds;
    }
    return asctimeDate(text);
}

ResumeProof resumeProof(const ReleaseValidators& kept) {
    if (!hasValidators(kept)) {
        return ResumeProof::NoneKept;
    }
    if (!kept.etag.empty()) {
        return ResumeProof::Etag;
    }
    const auto modified = httpDateSeconds(kept.lastModified);
    const auto date = httpDateSeconds(kept.date);
    if (modified && date && *date - *modified >= kStrongDateSeconds) {
        return ResumeProof::LastModified;
    }
    return ResumeProof::Unprovable;
}

std::wstring_view ifRangeValue(const ReleaseValidators& kept) {
    switch (resumeProof(kept)) {
    case ResumeProof::Etag:
        return kept.etag;
    case ResumeProof::LastModified:
        return kept.lastModified;
    case ResumeProof::NoneKept:
    case ResumeProof::Unprovable:
        break;
    }
    return {};
}

bool sameRelease(const ReleaseValidators& kept, std::wstring_view etag,
                 std::wstring_view lastModified, std::int64_t total) {
    if (!hasValidators(kept)) {
        return true;
    }
    if (total != kept.total) {
        return false;
    }
    // Strong comparison: a weak tag never equals the strong one kept.
    return kept.etag.empty() ? lastModified == kept.lastModified : etag == kept.etag;
}

std::string formatValidatorFile(const ReleaseValidators& kept) {
    std::string out(kFormatLine);
    out += '\n';
    out += "total ";
    out += std::to_string(kept.total);
    out += '\n';
    appendLine(out, "etag", kept.etag);
    appendLine(out, "last-modified", kept.lastModified);
    appendLine(out, "date", kept.date);
    appendLine(out, "url", kept.url);
    out += kEndLine;
    out += '\n';
    return out;
}

ParsedValidators parseValidatorFile(std::string_view bytes) {
    using enum ValidatorFileVerdict;
    if (bytes.size() > kMaxValidatorFileBytes) {
        return {TooLong, {}};
    }
    if (!bytes.starts_with(kFormatWord)) {
        // Cut before its first line was whole, or something else altogether.
        return {kFormatWord.starts_with(bytes) ? Torn : OtherFormat, {}};
    }
    const std::size_t firstEnd = bytes.find('\n');
    if (firstEnd == std::string_view::npos) {
        return {Torn, {}};
    }
    if (slice(bytes, 0, firstEnd) != kFormatLine) {
        return {OtherFormat, {}};
    }
    if (!bytes.ends_with("\nfim\n")) {
        return {Torn, {}};
    }
    // Between the format line and the end line "fim".
    std::string_view rest = slice(bytes, firstEnd + 1, bytes.size() - firstEnd - 1 - 4);

    // The lines in the order they are written, each at most once; "total" first and required.
    constexpr std::array<std::string_view, 5> kKeys = {"total", "etag", "last-modified", "date",
                                                       "url"};
    std::array<std::wstring, kKeys.size()> values;
    std::size_t nextKey = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = slice(rest, 0, end);
        rest = end == std::string_view::npos ? std::string_view{} : slice(rest, end + 1);
        std::optional<std::wstring> value;
        while (nextKey < kKeys.size() && !(value = field(line, kKeys[nextKey]))) {
            ++nextKey;
        }
        if (!value) {
            return {Malformed, {}};
        }
        values[nextKey++] = std::move(*value);
    }

    ParsedValidators parsed{Usable, {}};
    ReleaseValidators& kept = parsed.kept;
    const std::wstring& total = values[0];
    // Digits only, no sign, no leading zero: the one spelling formatValidatorFile writes.
    std::string digits;
    for (const wchar_t c : total) {
        digits += static_cast<char>(c);
    }
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), kept.total);
    if (digits.empty() || digits[0] < '1' || digits[0] > '9' || error != std::errc{} ||
        end != digits.data() + digits.size() || !sizeAcceptable(kept.total)) {
        return {Malformed, {}};
    }
    kept.etag = values[1];
    kept.lastModified = values[2];
    kept.date = values[3];
    kept.url = values[4];
    if ((!kept.etag.empty() && !strongEtag(kept.etag)) ||
        (!kept.lastModified.empty() && !dateLike(kept.lastModified)) ||
        (!kept.date.empty() && !dateLike(kept.date)) || kept.url.size() > kMaxValidatorUrlLength ||
        !hasValidators(kept)) {
        return {Malformed, {}};
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
