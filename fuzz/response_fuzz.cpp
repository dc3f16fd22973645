// The response readers fed as the fetch feeds them, with arbitrary bytes cut
// into pieces at arbitrary points. Input: one byte n, then n % 8 two-byte cut
// positions, then (when n has its top bit) three bytes for Expanded, then the
// response. The head, the body bytes, the final step and
// whatever is left over must not depend on where the bytes were cut; every
// stretch of data must lie inside the piece it came from.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "http/response.h"

namespace {

struct Outcome {
    bool head_done = false;
    ReadStep step = ReadStep::NeedMore;  // the last step of the reader in use
    ResponseHead head;
    std::size_t head_bytes = 0;
    std::string body;
    std::string left;  // bytes after the end of the body
    bool complete_at_close = false;

    bool operator==(const Outcome& other) const {
        return head_done == other.head_done && step == other.step &&
               head.status_code == other.head.status_code &&
               head.content_length == other.head.content_length &&
               head.length_invalid == other.head.length_invalid &&
               head.chunked == other.head.chunked && head_bytes == other.head_bytes &&
               body == other.body && left == other.left &&
               complete_at_close == other.complete_at_close;
    }
};

// Feeds one piece to the body reader until it needs more or stops.
void FeedBody(BodyReader& reader, std::string_view& piece, Outcome& out) {
    for (;;) {
        std::string_view data;
        const char* begin = piece.data();
        const char* end = piece.data() + piece.size();
        out.step = reader.Next(piece, data);
        if (out.step != ReadStep::Data) break;
        FUZZ_CHECK(!data.empty());
        FUZZ_CHECK(data.data() >= begin && data.data() + data.size() <= end);
        FUZZ_CHECK(piece.empty() || data.data() + data.size() == piece.data());
        out.body.append(data);
    }
    FUZZ_CHECK(out.step != ReadStep::NeedMore || piece.empty());
}

Outcome Read(const std::vector<std::string_view>& pieces) {
    Outcome out;
    HeadReader head;
    std::optional<BodyReader> body;
    for (std::string_view piece : pieces) {
        if (out.step == ReadStep::Done || out.step == ReadStep::Invalid) {
            out.left.append(piece);
            continue;
        }
        if (!body) {
            std::size_t before = piece.size();
            out.step = head.Feed(piece);
            out.head_bytes += before - piece.size();
            FUZZ_CHECK(out.step != ReadStep::NeedMore || piece.empty());
            if (out.step != ReadStep::Done) continue;
            out.head_done = true;
            out.head = head.Head();
            body.emplace(out.head);
        }
        FeedBody(*body, piece, out);
        out.left.append(piece);
    }
    if (!body) out.head = head.Head();
    if (body) out.complete_at_close = body->CompleteAtClose();
    // Where a reader gives up may depend on the cuts; that it gives up may not.
    if (out.step == ReadStep::Invalid) {
        out.left.clear();
        if (!out.head_done) out.head_bytes = 0;
    }
    return out;
}

void CheckOutcome(const Outcome& out) {
    FUZZ_CHECK(out.head_bytes <= MaxHeadBytes);
    FUZZ_CHECK(out.head.status_code >= -1 && out.head.status_code <= 999);
    FUZZ_CHECK(out.head.content_length >= -1);
    if (!out.head_done) return;
    if (out.step == ReadStep::Done) FUZZ_CHECK(out.complete_at_close);
    if (out.head.content_length >= 0) {
        FUZZ_CHECK(out.body.size() <= static_cast<uint64_t>(out.head.content_length));
        bool whole = out.body.size() == static_cast<uint64_t>(out.head.content_length);
        FUZZ_CHECK(out.complete_at_close == whole);
        FUZZ_CHECK((out.step == ReadStep::Done) == whole);
    }
}

// The length as std::from_chars reads decimal digits alone, blanks around them
// allowed: an independent reading to hold ContentLengthOf against.
std::optional<int64_t> ExpectedLength(std::string_view value) {
    std::size_t first = value.find_first_not_of(" \t");
    if (first == value.npos) return std::nullopt;
    std::string_view digits = value.substr(first, value.find_last_not_of(" \t") - first + 1);
    if (digits.front() == '-') return std::nullopt;
    int64_t length = 0;
    auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
    if (error != std::errc() || rest != digits.data() + digits.size()) return std::nullopt;
    return length;
}

void CheckFieldReaders(std::string_view line) {
    int code = StatusCodeOf(line);
    if (code >= 0) {
        std::string digits = std::to_string(code + 1000).substr(1);
        FUZZ_CHECK(line.substr(line.find(' ') + 1, 3) == digits);
    }
    std::string_view value = line.substr(std::min(line.find(':') + 1, line.size()));
    FUZZ_CHECK(ContentLengthOf(value) == ExpectedLength(value));
}

// The size limits lie far beyond the inputs the fuzzer makes, so an input
// may ask for a stretch of itself to be repeated up to them: plan[0] + 1 is
// the length of the stretch, which ends plan[1] % 16 bytes before the end, and
// plan[2] % 4 moves the total by -2 to +1 repeats around MaxHeadBytes.
std::string Expanded(std::string_view text, std::string_view plan) {
    std::size_t unit = static_cast<unsigned char>(plan[0]) + 1u;
    std::size_t tail = static_cast<unsigned char>(plan[1]) % 16;
    if (unit + tail > text.size()) return std::string(text);
    std::string_view head = text.substr(0, text.size() - unit - tail);
    std::size_t repeats = (MaxHeadBytes - std::min(head.size(), MaxHeadBytes)) / unit + 1;
    repeats = std::max<std::size_t>(repeats + static_cast<unsigned char>(plan[2]) % 4, 2) - 2;
    std::string expanded(head);
    for (std::size_t i = 0; i < repeats; ++i)
        expanded.append(text.substr(head.size(), unit));
    return expanded.append(text.substr(text.size() - tail));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    if (input.empty()) return 0;
    auto control = static_cast<unsigned char>(input[0]);
    std::size_t cut_count = control % 8;
    std::size_t prefix = 1 + 2 * cut_count + (control & 0x80 ? 3 : 0);
    if (input.size() < prefix) return 0;
    std::string response(input.substr(prefix));
    if (control & 0x80) response = Expanded(response, input.substr(prefix - 3, 3));
    std::vector<std::size_t> cuts = {0, response.size()};
    for (std::size_t i = 0; i < cut_count; ++i) {
        auto low = static_cast<unsigned char>(input[1 + 2 * i]);
        auto high = static_cast<unsigned char>(input[2 + 2 * i]);
        cuts.push_back((low | high << 8) % (response.size() + 1));
    }
    std::sort(cuts.begin(), cuts.end());
    std::string_view all = response;
    std::vector<std::string_view> pieces;
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
        pieces.push_back(all.substr(cuts[i], cuts[i + 1] - cuts[i]));

    Outcome whole = Read({all});
    CheckOutcome(whole);
    FUZZ_CHECK(Read(pieces) == whole);
    if (all.size() <= 4096) {
        std::vector<std::string_view> bytes;
        for (std::size_t i = 0; i < all.size(); ++i)
            bytes.push_back(all.substr(i, 1));
        FUZZ_CHECK(Read(bytes) == whole);
    }
    CheckFieldReaders(all.substr(0, all.find('\n')));
    return 0;
}
