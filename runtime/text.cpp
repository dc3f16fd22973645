#include "runtime/text.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <iterator>

std::string LowerText(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        // Only ASCII capitals: a locale-aware tolower could alter UTF-8 bytes.
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

int64_t FindText(std::string_view text, std::string_view word, int64_t start) {
    if (text.empty() || word.empty()) return 0;
    if (start < 1) start = 1;
    if (start > static_cast<int64_t>(text.size())) return 0;
    size_t found = text.find(word, static_cast<size_t>(start - 1));
    return found == std::string_view::npos ? 0 : static_cast<int64_t>(found) + 1;
}

int64_t CountText(std::string_view text, std::string_view word) {
    if (text.empty() || word.empty()) return 0;
    int64_t count = 0;
    for (size_t at = text.find(word); at != std::string_view::npos;
         at = text.find(word, at + word.size())) {
        ++count;
    }
    return count;
}

std::string FieldAt(std::string_view text, int64_t index, std::string_view separator) {
    if (index < 1) return "";
    if (separator.empty()) return index == 1 ? std::string(text) : "";
    char sep = separator.front();
    size_t begin = 0;
    for (int64_t field = 1; field < index; ++field) {
        size_t end = text.find(sep, begin);
        if (end == std::string_view::npos) return "";
        begin = end + 1;
    }
    size_t end = text.find(sep, begin);
    return std::string(text.substr(begin, end == std::string_view::npos ? end : end - begin));
}

std::string TrimSpaces(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return "";
    size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

namespace {

// The value of c as a digit of base, or -1.
int DigitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value < base ? value : -1;
}

}  // namespace

int64_t ParseInteger(std::string_view text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
    int base = 10;
    if (at < text.size() && (text[at] == '$' || text[at] == '%')) {
        base = text[at++] == '$' ? 16 : 2;
    }
    // Unsigned arithmetic gives the two's-complement wrap without overflow UB.
    uint64_t value = 0;
    for (int digit; at < text.size() && (digit = DigitValue(text[at], base)) >= 0; ++at) {
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    if (negative) value = 0 - value;
    return static_cast<int64_t>(value);
}

std::string IntegerText(int64_t value) {
    char digits[24];
    auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

bool SameText(std::string_view a, std::string_view b) {
    return a == b;
}

std::string SizeText(int64_t bytes) {
    if (bytes < 1000)
        return IntegerText(std::max<int64_t>(bytes, 0)) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* units[] = {"KB", "MB", "GB", "TB"};
    int64_t tenths = bytes / 100;
    std::size_t unit = 0;
    while (tenths >= 10000 && unit + 1 < std::size(units)) {
        tenths /= 1000;
        ++unit;
    }
    return IntegerText(tenths / 10) + "." + IntegerText(tenths % 10) + " " + units[unit];
}
