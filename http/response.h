// Reading an HTTP response from bytes as they arrive: the status line, the
// header block and the body framing (counted, chunked, or until the connection
// closes). Pure code over byte buffers: input may be split at any point, and no
// input makes these readers read outside it, grow without bound, or crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The most bytes a status line and header block may take together; also the
// limit for a single chunk-size line and for the trailers of a chunked body.
inline constexpr std::size_t MaxHeadBytes = 64 * 1024;

// The body of a response read until its connection closes may not exceed this.
inline constexpr int64_t UntilCloseAllowance = 1000000000;

// What the header block says about the response.
struct ResponseHead {
    int status_code = -1;         // -1 when the status line holds no code
    int64_t content_length = -1;  // -1 without a valid "Content-Length", or when chunked
    bool length_invalid = false;  // a "Content-Length" not of digits alone, or two that differ
    bool chunked = false;         // a "Transfer-Encoding" names chunked coding
    std::string location;         // the first "Location" value, blanks trimmed; "" without one
    std::string content_type;     // the first "Content-Type" value, blanks trimmed
    std::string etag;             // the first "ETag" value, blanks trimmed
    std::string last_modified;    // the first "Last-Modified" value, blanks trimmed
    std::string content_range;    // the first "Content-Range" value, blanks trimmed
    std::string date;             // the first "Date" value, blanks trimmed
};

// The bytes a 206 answer carries: first to last of a file of complete bytes.
struct ContentRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t complete = 0;
};

// A "Content-Range" value read as "bytes <first>-<last>/<complete>" (the unit
// in any letter case, decimal numbers without signs or blanks) with
// first <= last < complete. Nothing for any other form: "*" for either part,
// another unit, or numbers beyond 2^63-1.
std::optional<ContentRange> ContentRangeOf(std::string_view value);

// An HTTP date in its one current form, "Sun, 06 Nov 1994 08:49:37 GMT", as
// seconds since 1970 UTC; nothing for any other text.
std::optional<int64_t> HttpDateOf(std::string_view text);

// Whether a Content-Type value names a web page (its media type, before any
// parameters, is text/html or application/xhtml+xml in any letter case).
bool IsHtmlType(std::string_view content_type);

// Whether a head is an interim answer (1xx but 101), which the final one follows.
bool IsInterim(const ResponseHead& head);

// The status code of status_line: the three digits right after its first
// space, when a space or the end of the line follows them. -1 otherwise.
int StatusCodeOf(std::string_view status_line);

// The value of a "Content-Length" header, given the text after its colon:
// decimal digits alone, blanks around them allowed. Nothing for any other
// value (none, a sign, any other byte) or one above 2^63-1.
std::optional<int64_t> ContentLengthOf(std::string_view value);

enum class ReadStep {
    NeedMore,  // every byte given has been used; more are needed
    Data,      // a stretch of body data is ready
    Done,      // the part being read is complete
    Invalid,   // the bytes cannot be a valid response
};

// Reads the status line and header block. Lines end at LF; a CR right before
// the LF is dropped. The first empty line ends the block. Chunked coding
// outranks a Content-Length, which is then ignored.
class HeadReader {
  public:
    // Takes bytes from the front of input, up to and including the empty line
    // that ends the header block. Returns Done once that line has been read
    // (input then starts with the body), NeedMore when input ran out before it,
    // and Invalid when the block would exceed MaxHeadBytes.
    ReadStep Feed(std::string_view& input);
    const ResponseHead& Head() const { return head_; }

  private:
    void TakeLine();

    ResponseHead head_;
    std::string line_;
    std::size_t used_ = 0;
    bool first_line_ = true;
    bool done_ = false;
};

// Reads the body that follows a header block, in the framing it announces:
// chunked when chunked coding is named (whatever length is given too), else
// counted when it has a length, else until the connection closes.
class BodyReader {
  public:
    explicit BodyReader(const ResponseHead& head);

    // Takes bytes from the front of input. Returns Data with data viewing the
    // next stretch of body bytes inside input; NeedMore when input is used up;
    // Done when the body is complete (bytes left in input are not body);
    // Invalid on a malformed chunk-size line, chunk data not followed by a line
    // end, an over-long size or trailer line, or a body read until close that
    // exceeds UntilCloseAllowance.
    ReadStep Next(std::string_view& input, std::string_view& data);

    // Whether the body is complete when the connection closes at this point.
    bool CompleteAtClose() const;

  private:
    enum class State {
        Counted,
        UntilClose,
        SizeStart,
        SizeDigits,
        SizeRest,
        ChunkData,
        DataEnd,
        DataEndLf,
        TrailerStart,
        TrailerCr,
        Trailer,
        Done,
        Invalid,
    };
    void Step(char byte);
    void StepSize(char byte);
    void StepTrailer(char byte);
    void EndSizeLine();

    State state_;
    int64_t remaining_ = 0;  // bytes left of the counted body or current chunk
    uint64_t size_ = 0;      // chunk size being read
    std::size_t line_bytes_ = 0;
    std::size_t trailer_bytes_ = 0;
    int64_t received_ = 0;  // bytes of a body read until close
};
