// The calendar arithmetic and the mask formatter; the clock itself is read in
// dates_posix.cpp and dates_win32.cpp.
#include "runtime/dates.h"

#include <charconv>

namespace {

constexpr int64_t SecondsPerDay = 86400;
constexpr int64_t LastYear = 9999;

struct Fields {
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool IsLeapYear(int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int64_t DaysInMonth(int64_t year, int64_t month) {
    static constexpr int64_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to a Gregorian date, counted in 400-year eras of 146097
// days with the year starting in March, so that the leap day falls last.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2 ? 1 : 0;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t year_of_era = year - era * 400;
    int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The inverse of DaysFromCivil, for days >= 0 only (any int64 of seconds fits).
Fields CivilFromDays(int64_t days) {
    days += 719468;
    int64_t era = days / 146097;
    int64_t day_of_era = days - era * 146097;
    int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    int64_t shifted_month = (5 * day_of_year + 2) / 153;
    Fields fields;
    fields.day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    fields.month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    fields.year = year_of_era + era * 400 + (fields.month <= 2 ? 1 : 0);
    return fields;
}

Fields FieldsOf(DateValue date) {
    if (date < 0) return Fields{};
    Fields fields = CivilFromDays(date / SecondsPerDay);
    int64_t seconds_of_day = date % SecondsPerDay;
    fields.hour = seconds_of_day / 3600;
    fields.minute = seconds_of_day / 60 % 60;
    fields.second = seconds_of_day % 60;
    return fields;
}

void AppendPadded(std::string& out, int64_t value, size_t width) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    size_t length = static_cast<size_t>(result.ptr - digits);
    if (length < width) out.append(width - length, '0');
    out.append(digits, length);
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view lower_word) {
    if (text.size() < lower_word.size()) return false;
    for (size_t i = 0; i < lower_word.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower_word[i]) return false;
    }
    return true;
}

// Appends the field of the token that rest (the mask after a "%") starts with;
// returns the letters the token used, 0 when rest starts no token.
size_t AppendToken(std::string_view rest, const Fields& fields, std::string& out) {
    struct Token {
        std::string_view letters;
        int64_t value;
        size_t width;
    };
    // "yyyy" before "yy", or the long form would never be seen.
    const Token tokens[] = {
        {"yyyy", fields.year, 4}, {"yy", fields.year % 100, 2}, {"mm", fields.month, 2},
        {"dd", fields.day, 2},    {"hh", fields.hour, 2},       {"ii", fields.minute, 2},
        {"ss", fields.second, 2},
    };
    for (const Token& token : tokens) {
        if (!StartsWithIgnoringCase(rest, token.letters)) continue;
        AppendPadded(out, token.value, token.width);
        return token.letters.size();
    }
    return 0;
}

}  // namespace

DateValue MakeDate(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute,
                   int64_t second) {
    if (second < 0 || second > 59 || minute < 0 || minute > 59 || hour < 0 || hour > 23) {
        return ImpossibleDate;
    }
    // Before 1970 the count would be negative, and -1 already means impossible.
    if (year < 1970 || year > LastYear || month < 1 || month > 12) return ImpossibleDate;
    if (day < 1 || day > DaysInMonth(year, month)) return ImpossibleDate;
    return DaysFromCivil(year, month, day) * SecondsPerDay + hour * 3600 + minute * 60 + second;
}

std::string DateText(std::string_view mask, DateValue date) {
    Fields fields = FieldsOf(date);
    std::string out;
    out.reserve(mask.size() + 8);
    for (size_t at = 0; at < mask.size();) {
        if (mask[at] == '%') {
            size_t used = AppendToken(mask.substr(at + 1), fields, out);
            if (used > 0) {
                at += 1 + used;
                continue;
            }
        }
        out += mask[at++];
    }
    return out;
}
