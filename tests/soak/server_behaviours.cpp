#include "tests/soak/server_behaviours.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string_view>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr std::size_t Threshold = 5000;
constexpr std::array<std::string_view, 4> Words = {"404", "not found", "error", "requested"};
// No "e", "o" or "4" in either case: no run of these can spell a word.
constexpr std::string_view PlainChars =
    "abcdfghijklmnpqrstuvwxyzABCDFGHIJKLMNPQRSTUVWXYZ0123567890 .,;:-_/=+()<>[]";

bool Chance(Random& random, int percent) {
    return Between(random, 1, 100) <= static_cast<std::size_t>(percent);
}

template <typename T, std::size_t N>
const T& OneOf(Random& random, const std::array<T, N>& items) {
    return items[Between(random, 0, N - 1)];
}

std::string_view Terminator(Random& random) {
    return OneOf(random, std::array<std::string_view, 3>{"\n", "\r\n", "\r"});
}

char PlainByte(Random& random, bool binary) {
    if (!binary) return PlainChars[Between(random, 0, PlainChars.size() - 1)];
    for (;;) {
        char c = static_cast<char>(Between(random, 0, 255));
        if (std::string_view("eEoO4").find(c) == std::string_view::npos) return c;
    }
}

std::string RandomCase(Random& random, std::string_view word) {
    std::string cased(word);
    for (char& c : cased) {
        if (c >= 'a' && c <= 'z' && Chance(random, 50)) c = static_cast<char>(c - 'a' + 'A');
    }
    return cased;
}

std::string PlainRun(Random& random, std::size_t size) {
    std::string run;
    for (std::size_t i = 0; i < size; ++i)
        run += PlainByte(random, false);
    return run;
}

// A line of at most 49 bytes holding one word, without its line end.
std::string HitLine(Random& random) {
    std::string word = RandomCase(random, OneOf(random, Words));
    return PlainRun(random, Between(random, 0, 20)) + word +
           PlainRun(random, Between(random, 0, 20));
}

}  // namespace

std::size_t Between(Random& random, std::size_t low, std::size_t high) {
    return std::uniform_int_distribution<std::size_t>(low, high)(random);
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
        case Outcome::Failed:
            return "failed";
        case Outcome::Done:
            return "done";
        case Outcome::Deleted:
            return "deleted";
        case Outcome::Kept:
            return "kept";
    }
    return "?";
}

namespace {

// Bytes of exactly size that hold no error-page word in any letter case, in
// lines ended by LF, CR or CR LF; with binary, any other byte too (NUL
// included).
std::string PlainText(Random& random, std::size_t size, bool binary = false) {
    std::string text;
    text.reserve(size + 2);
    while (text.size() < size) {
        if (Chance(random, 3)) {
            text += Terminator(random);
        } else {
            text += PlainByte(random, binary);
        }
    }
    text.resize(size);
    return text;
}

// Text of exactly size bytes (at least 9) of non-empty lines, each holding an
// error-page word in random letter case.
std::string HitText(Random& random, std::size_t size) {
    std::string text;
    text.reserve(size);
    // Each line takes at most 51 bytes, so the last one keeps at least 13.
    while (size - text.size() >= 64) {
        text += HitLine(random);
        text += Terminator(random);
    }
    std::string word = RandomCase(random, OneOf(random, Words));
    std::size_t padding = size - text.size() - word.size();
    std::size_t before = Between(random, 0, padding);
    return text + PlainRun(random, before) + word + PlainRun(random, padding - before);
}

}  // namespace

namespace {

enum class Framing { Counted, Chunked, UntilClose };

Framing AnyFraming(Random& random) {
    return OneOf(random, std::array{Framing::Counted, Framing::Chunked, Framing::UntilClose});
}

std::string LengthHeader(Random& random, std::string_view value) {
    std::string_view name =
        OneOf(random, std::array<std::string_view, 3>{
                          "Content-Length: ", "Content-Length:", "content-length:   "});
    return std::string(name) + std::string(value) + "\r\n";
}

// Headers that do not change the framing; sometimes enough of them that the
// block spans several receives.
std::string OtherHeaders(Random& random) {
    std::string headers = "Server: soak\r\nContent-Type: application/octet-stream\r\n";
    if (Chance(random, 15)) {
        for (std::size_t i = Between(random, 1, 80); i > 0; --i)
            headers += "X-Filler-" + std::to_string(i) + ": " + PlainRun(random, 40) + "\r\n";
    }
    return headers;
}

std::string Hex(Random& random, std::size_t value) {
    static constexpr char lower[] = "0123456789abcdef";
    static constexpr char upper[] = "0123456789ABCDEF";
    const char* digits = Chance(random, 50) ? lower : upper;
    std::string hex;
    do {
        hex.insert(hex.begin(), digits[value % 16]);
        value /= 16;
    } while (value > 0);
    return hex;
}

// The chunks of body, without the closing zero-size chunk.
std::string Chunks(Random& random, std::string_view body) {
    std::string coded;
    while (!body.empty()) {
        std::size_t size = std::min(body.size(), Between(random, 1, 9000));
        coded += Hex(random, size);
        if (Chance(random, 10)) coded += ";name=value";
        coded += "\r\n" + std::string(body.substr(0, size)) + "\r\n";
        body.remove_prefix(size);
    }
    return coded;
}

std::string LastChunk(Random& random) {
    return std::string("0\r\n") + (Chance(random, 20) ? "X-Trailer: yes\r\n" : "") + "\r\n";
}

// A whole response: status line, headers for framing, body coded for it.
std::string Response(Random& random, std::string_view status, const std::string& body,
                     Framing framing) {
    std::string head = std::string(Chance(random, 10) ? "HTTP/1.0 " : "HTTP/1.1 ") +
                       std::string(status) + "\r\n" + OtherHeaders(random);
    // No Location: a 302 is then saved and a 301 fails, and each check stays
    // one connection. Redirects followed are tested on their own.
    switch (framing) {
        case Framing::Counted:
            return head + LengthHeader(random, std::to_string(body.size())) + "\r\n" + body;
        case Framing::Chunked:
            return head + "Transfer-Encoding: chunked\r\n\r\n" + Chunks(random, body) +
                   LastChunk(random);
        case Framing::UntilClose:
            return head + "\r\n" + body;
    }
    return head;
}

// The bytes in one piece, in a few pieces, or for small answers in many small
// ones; pauses stay far below the client's receive limit.
std::vector<ServerPiece> Delivery(Random& random, std::string_view bytes) {
    std::size_t way = Between(random, 1, 10);
    if (way <= 6 || bytes.empty()) return {{std::string(bytes), 0ms}};
    if (way <= 9 || bytes.size() > 4096) {
        std::vector<std::size_t> sizes;
        for (std::size_t i = Between(random, 1, 7); i > 0; --i)
            sizes.push_back(Between(random, 1, std::max<std::size_t>(bytes.size() / 4, 1)));
        return Pieces(bytes, sizes, std::chrono::milliseconds(Between(random, 0, 2)));
    }
    std::size_t size = Between(random, 1, 16);
    return EveryBytes(bytes, size, bytes.size() / size <= 100 ? 1ms : 0ms);
}

std::string_view GoodStatus(Random& random) {
    return Chance(random, 80) ? "200 OK" : "302 Found";
}

Behaviour Saved(Random& random, std::string kind, std::string body, Outcome outcome) {
    Behaviour b{std::move(kind), {}, outcome, std::move(body)};
    b.answer.pieces =
        Delivery(random, Response(random, GoodStatus(random), b.body, AnyFraming(random)));
    return b;
}

Behaviour Failing(Random& random, std::string kind, std::string_view bytes,
                  AnswerEnd end = AnswerEnd::Close) {
    Behaviour b{std::move(kind), {Delivery(random, bytes), end}, Outcome::Failed, ""};
    b.stalls = end == AnswerEnd::Stall;
    return b;
}

// ---- Answers whose body is saved ----

Behaviour RealFile(Random& random) {
    std::size_t size = Chance(random, 10) ? Threshold + 1 : Between(random, Threshold + 1, 300'000);
    bool binary = Chance(random, 40);
    if (Chance(random, 75))
        return Saved(random, "real file", PlainText(random, size, binary), Outcome::Done);
    // Hit lines first change nothing for a large file once a plain line follows.
    std::size_t hits = Between(random, 9, std::min<std::size_t>(size - 2, 3000));
    std::string body = HitText(random, hits) + "\n" + PlainText(random, size - hits - 1, binary);
    return Saved(random, "real file after hit lines", std::move(body), Outcome::Done);
}

Behaviour LargeAllHits(Random& random) {
    return Saved(random, "large, every line a hit",
                 HitText(random, Between(random, Threshold + 1, 40'000)), Outcome::Kept);
}

Behaviour SmallErrorPage(Random& random) {
    std::string word = RandomCase(random, OneOf(random, Words));
    std::size_t size =
        Chance(random, 10) ? Threshold - 1 : Between(random, word.size() + 2, Threshold - 1);
    std::size_t lead = Between(random, 0, size - word.size() - 2);
    std::string body = PlainText(random, lead) + "\n" + word + "\n" +
                       PlainText(random, size - lead - word.size() - 2);
    return Saved(random, "small error page", std::move(body), Outcome::Deleted);
}

Behaviour SmallPlainFile(Random& random) {
    return Saved(random, "small plain file", PlainText(random, Between(random, 1, Threshold - 1)),
                 Outcome::Kept);
}

Behaviour ExactlyThreshold(Random& random) {
    std::string body =
        Chance(random, 50) ? PlainText(random, Threshold) : HitText(random, Threshold);
    return Saved(random, "exactly 5000 bytes", std::move(body), Outcome::Kept);
}

Behaviour EmptyBody(Random& random) {
    return Saved(random, "empty body", "", Outcome::Kept);
}

// ---- Answers that fail the fetch ----

Behaviour RefusedStatus(Random& random) {
    std::string_view status =
        OneOf(random, std::array<std::string_view, 9>{"404 Not Found", "404 Not Found",
                                                      "301 Moved Permanently", "403 Forbidden",
                                                      "500 Internal Server Error", "204 No Content",
                                                      "404 200 OK", "2000 OK", "20 OK"});
    // A large plain body: were the status accepted, the check would say "DONE!".
    std::string body = status.starts_with("404 Not")
                           ? "<html>404 Not Found</html>"
                           : PlainText(random, Between(random, 6000, 20'000));
    return Failing(random, "status " + std::string(status),
                   Response(random, status, body, AnyFraming(random)));
}

Behaviour CutBody(Random& random) {
    std::string body = PlainText(random, Between(random, 6000, 100'000));
    bool chunked = Chance(random, 50);
    std::string head = "HTTP/1.1 200 OK\r\n" + OtherHeaders(random) +
                       (chunked ? "Transfer-Encoding: chunked\r\n\r\n"
                                : LengthHeader(random, std::to_string(body.size())) + "\r\n");
    std::string coded = chunked ? Chunks(random, body) : body;
    // Never the whole body; a chunked one always stops before its zero-size chunk.
    std::size_t cut = Between(random, 0, coded.size() - (chunked ? 0 : 1));
    AnswerEnd end = OneOf(
        random, std::array{AnswerEnd::Close, AnswerEnd::Close, AnswerEnd::Reset, AnswerEnd::Stall});
    return Failing(random, "body cut short", head + coded.substr(0, cut), end);
}

Behaviour CutHead(Random& random) {
    std::string whole = Response(random, "200 OK", PlainText(random, 7000), Framing::Counted);
    std::size_t cut = Between(random, 0, whole.find("\r\n\r\n") + 2);
    AnswerEnd end = OneOf(random, std::array{AnswerEnd::Close, AnswerEnd::Reset, AnswerEnd::Stall});
    return Failing(random, "head cut short", std::string_view(whole).substr(0, cut), end);
}

Behaviour UntilCloseStalls(Random& random) {
    std::string whole = Response(random, "200 OK", PlainText(random, 9000), Framing::UntilClose);
    return Failing(random, "body until close, then silence", whole, AnswerEnd::Stall);
}

Behaviour MalformedFraming(Random& random) {
    std::string body = PlainText(random, Between(random, 6000, 9000));
    std::string head = "HTTP/1.1 200 OK\r\n" + OtherHeaders(random);
    switch (Between(random, 1, 4)) {
        case 1:
            return Failing(random, "bad chunk size",
                           head + "Transfer-Encoding: chunked\r\n\r\nzz\r\n" + body);
        case 2:
            return Failing(random, "chunk without its line end",
                           head + "Transfer-Encoding: chunked\r\n\r\n5\r\nhelloXX" + body);
        case 3:
            return Failing(random, "negative length",
                           head + LengthHeader(random, "-5") + "\r\n" + body);
        default:
            return Failing(random, "length beyond 2^63-1",
                           head + LengthHeader(random, "99999999999999999999") + "\r\n" + body);
    }
}

Behaviour OversizedHead(Random& random) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    while (head.size() <= 70'000)
        head += "X-Big: " + PlainRun(random, 200) + "\r\n";
    return Failing(random, "head over 64 KiB",
                   head + "Content-Length: 6000\r\n\r\n" + PlainText(random, 6000));
}

// No space anywhere, so no status code can be read from it.
Behaviour Garbage(Random& random) {
    std::string bytes(Between(random, 1, Chance(random, 10) ? 80'000 : 3000), '\0');
    for (char& c : bytes) {
        do {
            c = static_cast<char>(Between(random, 0, 255));
        } while (c == ' ');
    }
    if (Chance(random, 50)) bytes.insert(Between(random, 0, bytes.size()), "\r\n\r\n");
    return Failing(random, "garbage", bytes);
}

Behaviour Silence(Random& random) {
    AnswerEnd end = OneOf(random, std::array{AnswerEnd::Close, AnswerEnd::Reset, AnswerEnd::Stall});
    return Failing(random, "no answer at all", "", end);
}

struct Kind {
    int weight;
    Behaviour (*make)(Random&);
};

constexpr std::array<Kind, 14> Kinds = {{
    {22, RealFile},
    {6, LargeAllHits},
    {12, SmallErrorPage},
    {8, SmallPlainFile},
    {3, ExactlyThreshold},
    {3, EmptyBody},
    {12, RefusedStatus},
    {6, CutBody},
    {4, CutHead},
    {1, UntilCloseStalls},
    {5, MalformedFraming},
    {2, OversizedHead},
    {6, Garbage},
    {4, Silence},
}};

}  // namespace

Behaviour RandomBehaviour(Random& random) {
    int total = 0;
    for (const Kind& kind : Kinds)
        total += kind.weight;
    int pick = static_cast<int>(Between(random, 1, static_cast<std::size_t>(total)));
    for (const Kind& kind : Kinds) {
        pick -= kind.weight;
        if (pick <= 0) return kind.make(random);
    }
    return RealFile(random);
}
