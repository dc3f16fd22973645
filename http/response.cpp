#include "http/response.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/dates.h"

namespace {

constexpr int64_t MaxLength = std::numeric_limits<int64_t>::max();

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    }
    return true;
}

bool ContainsIgnoringCase(std::string_view text, std::string_view word) {
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        if (StartsIgnoringCase(text.substr(i), word)) return true;
    }
    return false;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int HexValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Trimmed(std::string_view text) {
    std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return {};
    return std::string(text.substr(start, text.find_last_not_of(" \t") - start + 1));
}

}  // namespace

std::optional<int64_t> HttpDateOf(std::string_view text) {
    // "Sun, 06 Nov 1994 08:49:37 GMT": the positions of its fields are fixed.
    constexpr std::string_view Months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT") return {};
    auto number = [&](std::size_t at, std::size_t digits) -> int64_t {
        int64_t value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (!IsDigit(text[i])) return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    std::size_t month = Months.find(text.substr(8, 3));
    if (month == std::string_view::npos || month % 3 != 0 || text[7] != ' ' || text[11] != ' ' ||
        text[16] != ' ' || text[19] != ':' || text[22] != ':')
        return {};
    int64_t day = number(5, 2), year = number(12, 4), hour = number(17, 2), minute = number(20, 2),
            second = number(23, 2);
    if (day < 0 || year < 0 || hour < 0 || minute < 0 || second < 0) return {};
    DateValue date = MakeDate(year, static_cast<int64_t>(month / 3) + 1, day, hour, minute, second);
    if (date == ImpossibleDate) return {};
    return date;
}

bool IsHtmlType(std::string_view content_type) {
    std::string type = Trimmed(content_type.substr(0, content_type.find(';')));
    return (type.size() == 9 && StartsIgnoringCase(type, "text/html")) ||
           (type.size() == 21 && StartsIgnoringCase(type, "application/xhtml+xml"));
}

int StatusCodeOf(std::string_view status_line) {
    std::size_t space = status_line.find(' ');
    if (space == std::string_view::npos || status_line.size() < space + 4) return -1;
    std::string_view code = status_line.substr(space + 1, 3);
    if (!std::all_of(code.begin(), code.end(), IsDigit)) return -1;
    if (status_line.size() > space + 4 && status_line[space + 4] != ' ') return -1;
    return (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
}

std::optional<int64_t> ContentLengthOf(std::string_view value) {
    std::size_t start = value.find_first_not_of(" \t");
    if (start == std::string_view::npos) return std::nullopt;
    value = value.substr(start, value.find_last_not_of(" \t") - start + 1);
    int64_t length = 0;
    for (char c : value) {
        if (!IsDigit(c)) return std::nullopt;
        int digit = c - '0';
        if (length > (MaxLength - digit) / 10) return std::nullopt;
        length = length * 10 + digit;
    }
    return length;
}

bool IsInterim(const ResponseHead& head) {
    return head.status_code >= 100 && head.status_code < 200 && head.status_code != 101;
}

namespace {

// Decimal digits up to the first other byte; nothing without any or on overflow.
std::optional<int64_t> TakeNumber(std::string_view& text) {
    int64_t number = 0;
    std::size_t pos = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        int digit = text[pos] - '0';
        if (number > (MaxLength - digit) / 10) return std::nullopt;
        number = number * 10 + digit;
    }
    if (pos == 0) return std::nullopt;
    text.remove_prefix(pos);
    return number;
}

bool TakeByte(std::string_view& text, char byte) {
    if (text.empty() || text.front() != byte) return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<ContentRange> ContentRangeOf(std::string_view value) {
    if (!StartsIgnoringCase(value, "bytes ")) return std::nullopt;
    value.remove_prefix(6);
    std::optional<int64_t> first = TakeNumber(value);
    if (!first || !TakeByte(value, '-')) return std::nullopt;
    std::optional<int64_t> last = TakeNumber(value);
    if (!last || !TakeByte(value, '/')) return std::nullopt;
    std::optional<int64_t> complete = TakeNumber(value);
    if (!complete || !value.empty() || *first > *last || *last >= *complete) return std::nullopt;
    return ContentRange{*first, *last, *complete};
}

ReadStep HeadReader::Feed(std::string_view& input) {
    while (!done_ && !input.empty()) {
        const char* newline =
            static_cast<const char*>(std::memchr(input.data(), '\n', input.size()));
        std::size_t take =
            newline ? static_cast<std::size_t>(newline - input.data()) + 1 : input.size();
        // The limit is checked before copying, so a flood without line ends
        // never grows the line beyond it.
        if (used_ + take > MaxHeadBytes) return ReadStep::Invalid;
        used_ += take;
        line_.append(input.data(), newline ? take - 1 : take);
        input.remove_prefix(take);
        if (newline) TakeLine();
    }
    return done_ ? ReadStep::Done : ReadStep::NeedMore;
}

void HeadReader::TakeLine() {
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    std::string_view line = line_;
    if (first_line_) {
        first_line_ = false;
        head_.status_code = StatusCodeOf(line);
    } else if (line.empty()) {
        done_ = true;
        if (head_.chunked) {
            head_.content_length = -1;
            head_.length_invalid = false;
        }
    } else if (StartsIgnoringCase(line, "transfer-encoding:")) {
        if (ContainsIgnoringCase(line.substr(18), "chunked")) head_.chunked = true;
    } else if (StartsIgnoringCase(line, "location:")) {
        if (head_.location.empty()) head_.location = Trimmed(line.substr(9));
    } else if (StartsIgnoringCase(line, "content-type:")) {
        if (head_.content_type.empty()) head_.content_type = Trimmed(line.substr(13));
    } else if (StartsIgnoringCase(line, "etag:")) {
        if (head_.etag.empty()) head_.etag = Trimmed(line.substr(5));
    } else if (StartsIgnoringCase(line, "last-modified:")) {
        if (head_.last_modified.empty()) head_.last_modified = Trimmed(line.substr(14));
    } else if (StartsIgnoringCase(line, "date:")) {
        if (head_.date.empty()) head_.date = Trimmed(line.substr(5));
    } else if (StartsIgnoringCase(line, "content-range:")) {
        if (head_.content_range.empty()) head_.content_range = Trimmed(line.substr(14));
    } else if (StartsIgnoringCase(line, "content-length:")) {
        // Two lengths that differ leave no way to know where the body ends.
        std::optional<int64_t> length = ContentLengthOf(line.substr(15));
        if (!length || (head_.content_length >= 0 && head_.content_length != *length)) {
            head_.length_invalid = true;
        } else {
            head_.content_length = *length;
        }
    }
    line_.clear();
}

BodyReader::BodyReader(const ResponseHead& head)
    : state_(head.chunked               ? State::SizeStart
             : head.content_length >= 0 ? State::Counted
                                        : State::UntilClose),
      remaining_(head.content_length) {}

ReadStep BodyReader::Next(std::string_view& input, std::string_view& data) {
    for (;;) {
        if (state_ == State::Counted && remaining_ == 0) state_ = State::Done;
        if (state_ == State::Done) return ReadStep::Done;
        if (state_ == State::Invalid) return ReadStep::Invalid;
        if (input.empty()) return ReadStep::NeedMore;
        if (state_ == State::UntilClose) {
            if (static_cast<uint64_t>(received_) + input.size() > UntilCloseAllowance) {
                state_ = State::Invalid;
                continue;
            }
            received_ += static_cast<int64_t>(input.size());
            data = input;
            input = {};
            return ReadStep::Data;
        }
        if (state_ == State::Counted || state_ == State::ChunkData) {
            std::size_t take = static_cast<std::size_t>(
                std::min<uint64_t>(static_cast<uint64_t>(remaining_), input.size()));
            data = input.substr(0, take);
            input.remove_prefix(take);
            remaining_ -= static_cast<int64_t>(take);
            if (state_ == State::ChunkData && remaining_ == 0) state_ = State::DataEnd;
            return ReadStep::Data;
        }
        Step(input.front());
        input.remove_prefix(1);
    }
}

bool BodyReader::CompleteAtClose() const {
    // A last chunk whose closing empty line never came still delivered all data.
    return state_ == State::Done || state_ == State::UntilClose || state_ == State::TrailerStart ||
           (state_ == State::Counted && remaining_ == 0);
}

void BodyReader::Step(char byte) {
    switch (state_) {
        case State::DataEnd:
            state_ = byte == '\r'   ? State::DataEndLf
                     : byte == '\n' ? State::SizeStart
                                    : State::Invalid;
            line_bytes_ = 0;
            break;
        case State::DataEndLf:
            state_ = byte == '\n' ? State::SizeStart : State::Invalid;
            break;
        case State::TrailerStart:
        case State::TrailerCr:
        case State::Trailer:
            StepTrailer(byte);
            break;
        default:
            StepSize(byte);
            break;
    }
}

void BodyReader::StepSize(char byte) {
    if (++line_bytes_ > MaxHeadBytes) {
        state_ = State::Invalid;
        return;
    }
    int digit = HexValue(byte);
    if (state_ == State::SizeStart) {
        if (byte == ' ' || byte == '\t') return;
        if (digit < 0) {
            state_ = State::Invalid;
            return;
        }
        size_ = 0;
        state_ = State::SizeDigits;
    }
    if (state_ == State::SizeDigits && digit >= 0) {
        if (size_ > (static_cast<uint64_t>(MaxLength) - digit) / 16) {
            state_ = State::Invalid;
            return;
        }
        size_ = size_ * 16 + static_cast<uint64_t>(digit);
        return;
    }
    // Whatever follows the digits (an extension after ";", blanks, the CR) is
    // skipped up to the LF.
    state_ = State::SizeRest;
    if (byte == '\n') EndSizeLine();
}

void BodyReader::EndSizeLine() {
    remaining_ = static_cast<int64_t>(size_);
    state_ = size_ == 0 ? State::TrailerStart : State::ChunkData;
}

void BodyReader::StepTrailer(char byte) {
    if (++trailer_bytes_ > MaxHeadBytes) {
        state_ = State::Invalid;
    } else if (byte == '\n') {
        state_ = state_ == State::Trailer ? State::TrailerStart : State::Done;
    } else if (byte == '\r' && state_ == State::TrailerStart) {
        state_ = State::TrailerCr;
    } else {
        state_ = State::Trailer;
    }
}
