#include "http/response.h"

#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ResponseHead, ReadsStatusCodesAndLengthsStrictly) {
    const std::pair<const char*, int> statuses[] = {
        {"HTTP/1.1 200 OK", 200}, {"HTTP/1.0 302", 302},  {"HTTP/1.1 404 Not 200", 404},
        {"HTTP/1.1 2000 OK", -1}, {"HTTP/1.1200 OK", -1}, {"", -1},
    };
    for (const auto& [line, code] : statuses)
        EXPECT_EQ(StatusCodeOf(line), code) << line;
    const std::pair<const char*, std::optional<int64_t>> lengths[] = {
        {" 1234", 1234},
        {"1234 \t", 1234},
        {" \t 12abc", std::nullopt},
        {"abc", std::nullopt},
        {"", std::nullopt},
        {"1 2", std::nullopt},
        {"+5", std::nullopt},
        {" -1", std::nullopt},
        {" 9223372036854775807", std::numeric_limits<int64_t>::max()},
        {" 9223372036854775808", std::nullopt},
    };
    for (const auto& [value, length] : lengths)
        EXPECT_EQ(ContentLengthOf(value), length) << value;
}

struct Read {
    ReadStep step = ReadStep::NeedMore;
    ResponseHead head;
    std::string data;  // the body bytes delivered
    std::string left;  // bytes after the end of the head or body
    bool complete_at_close = false;
};

Read ReadHead(const std::vector<std::string_view>& pieces) {
    HeadReader reader;
    Read result;
    for (std::string_view piece : pieces) {
        if (result.step == ReadStep::NeedMore) result.step = reader.Feed(piece);
        if (result.step != ReadStep::NeedMore) result.left += piece;
    }
    result.head = reader.Head();
    return result;
}

TEST(HeadReader, ReadsTheSameHeadWhereverTheBytesAreSplit) {
    const std::string response =
        "HTTP/1.1 302 Found\r\nLocation: http://x/\r\nCONTENT-LENGTH:1234\r\n"
        "transfer-Encoding: gzip, Chunked\r\nX-Content-Length: 1\r\n\r\nbody\r\n\r\nmore";
    std::string_view all = response;
    for (std::size_t cut = 0; cut <= response.size(); ++cut) {
        Read result = ReadHead({all.substr(0, cut), all.substr(cut)});
        ASSERT_EQ(result.step, ReadStep::Done) << "cut at " << cut;
        EXPECT_EQ(result.head.status_code, 302);
        EXPECT_EQ(result.head.content_length, -1);  // chunked coding outranks a length
        EXPECT_TRUE(result.head.chunked);
        EXPECT_EQ(result.left, "body\r\n\r\nmore") << "cut at " << cut;
    }
    Read bare = ReadHead({"HTTP/1.1 200 OK\nTransfer-Encoding: gzip\nContent-Length: -5\n\nx"});
    EXPECT_EQ(bare.left, "x");
    EXPECT_FALSE(bare.head.chunked);
    EXPECT_TRUE(bare.head.length_invalid);
}

TEST(HeadReader, StopsAtItsSizeLimit) {
    std::string status = "HTTP/1.1 200 OK\r\n";
    // Exactly at the limit with its closing empty line, then one byte over it.
    std::string filler(MaxHeadBytes - status.size() - 6, 'x');
    EXPECT_EQ(ReadHead({status, "X:" + filler, "\r\n\r\n"}).step, ReadStep::Done);
    EXPECT_EQ(ReadHead({status, "X:" + filler + "y", "\r\n\r\n"}).step, ReadStep::Invalid);
    std::string lines;
    for (int i = 0; i < 20000; ++i)
        lines += "A: b\r\n";
    EXPECT_EQ(ReadHead({status, lines}).step, ReadStep::Invalid);
}

Read ReadBody(const ResponseHead& head, const std::vector<std::string_view>& pieces) {
    BodyReader reader(head);
    Read result;
    std::string_view data;
    for (std::string_view piece : pieces) {
        while (result.step == ReadStep::NeedMore || result.step == ReadStep::Data) {
            result.step = reader.Next(piece, data);
            if (result.step == ReadStep::Data) result.data += data;
            if (result.step == ReadStep::NeedMore) break;
        }
        result.left += piece;
    }
    result.complete_at_close = reader.CompleteAtClose();
    return result;
}

ResponseHead Framing(int64_t length, bool chunked) {
    ResponseHead head;
    head.content_length = length;
    head.chunked = chunked;
    return head;
}
const ResponseHead Chunked = Framing(-1, true);
const ResponseHead UntilClose = Framing(-1, false);

TEST(BodyReader, DecodesChunksWhereverTheBytesAreSplit) {
    const std::string body =
        "5;name=value\r\nhello\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n"
        "  1 \r\n!\r\n0\r\nTrailer: x\r\nMore: y\r\n\r\nafter";
    std::string_view all = body;
    for (std::size_t first = 0; first <= body.size(); ++first) {
        for (std::size_t second = first; second <= body.size(); ++second) {
            Read result = ReadBody(
                Chunked,
                {all.substr(0, first), all.substr(first, second - first), all.substr(second)});
            ASSERT_EQ(result.step, ReadStep::Done) << first << " " << second;
            ASSERT_EQ(result.data, "helloabcdefghijklmnopqrstuvwxyz!") << first << " " << second;
            ASSERT_EQ(result.left, "after") << first << " " << second;
        }
    }
}

TEST(BodyReader, RefusesMalformedChunks) {
    std::string trailers = "0\r\n";
    while (trailers.size() <= MaxHeadBytes + 8)
        trailers += "T: v\r\n";
    const std::string cases[] = {
        "zz\r\nhello\r\n0\r\n\r\n",
        "\r\nhello\r\n0\r\n\r\n",
        "-5\r\nhello\r\n0\r\n\r\n",
        "5\r\nhelloXX0\r\n\r\n",
        "5\r\nhello\rX0\r\n\r\n",
        "8000000000000000\r\n",
        "0000000000000000010000000000000000\r\n",
        std::string(MaxHeadBytes + 1, ' '),
        trailers,
    };
    for (const std::string& body : cases) {
        EXPECT_EQ(ReadBody(Chunked, {body}).step, ReadStep::Invalid) << body.substr(0, 40);
    }
    EXPECT_EQ(ReadBody(Chunked, {"7fffffffffffffff\r\nab"}).step, ReadStep::NeedMore);
}

TEST(BodyReader, KnowsWhenTheBodyIsComplete) {
    const struct {
        ResponseHead head;
        const char* bytes;
        std::string data;
        bool complete;
    } cases[] = {
        {Chunked, "5\r\nhel", "hel", false},
        {Chunked, "5\r\nhello\r\n", "hello", false},
        {Chunked, "5\r\nhello\r\n0\r\n", "hello", true},
        {Chunked, "5\r\nhello\r\n0\r\nTrail", "hello", false},
        {Framing(5, false), "hel", "hel", false},
        {Framing(5, true), "5\r\nhello\r\n0\r\n\r\n", "hello", true},  // chunked decides
        {Framing(0, false), "x", "", true},
        {UntilClose, "5\r\nab\r\n0\r\n\r\n", "5\r\nab\r\n0\r\n\r\n", true},
    };
    for (const auto& c : cases) {
        Read result = ReadBody(c.head, {c.bytes});
        EXPECT_EQ(result.data, c.data) << c.bytes;
        EXPECT_EQ(result.complete_at_close, c.complete) << c.bytes;
    }
}

TEST(BodyReader, ReadsUntilCloseWithinItsAllowance) {
    BodyReader reader(UntilClose);
    std::string block(1 << 20, 'b');
    std::string_view data;
    int64_t taken = 0;
    ReadStep step = ReadStep::Data;
    while (step == ReadStep::Data && taken <= UntilCloseAllowance) {
        std::string_view input = block;
        step = reader.Next(input, data);
        if (step == ReadStep::Data) taken += static_cast<int64_t>(data.size());
    }
    EXPECT_EQ(step, ReadStep::Invalid);
    EXPECT_LE(taken, UntilCloseAllowance);
}

}  // namespace
