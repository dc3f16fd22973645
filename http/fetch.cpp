#include "http/fetch.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "http/download_file.h"
#include "http/location.h"
#include "http/part_file.h"
#include "http/response.h"
#include "http/transport.h"
#include "http/url.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace {

FetchLimits CurrentLimits;

bool IsUnsafeByte(unsigned char byte) {
    return byte < 0x21 || byte >= 0x7F;
}

void AppendEscaped(std::string& out, std::string_view path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    for (char c : path) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (IsUnsafeByte(byte)) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

// Read in the manner of atoi, then cut to 16 bits as a port is.
int PortNumberOf(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    int port = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        port = (port * 10 + (text[pos] - '0')) % 65536;
    }
    return negative ? (65536 - port) % 65536 : port;
}

// How receiving a head or a body ended.
enum class Ending { Complete, Closed, Cut, Silent, Malformed, WriteFailed };

// One receive, with a failure split into a silent server (the whole limit
// waited out) and a broken connection.
int64_t Receive(Transport& transport, char* buffer, Ending& failure) {
    auto start = std::chrono::steady_clock::now();
    int64_t count = TransportReceive(transport, buffer, ReadBufferSize, CurrentLimits.receive);
    if (count < 0) {
        bool waited = std::chrono::steady_clock::now() - start >= CurrentLimits.receive;
        failure = waited ? Ending::Silent : Ending::Cut;
    }
    return count;
}

// Receives until the header block is complete; rest then holds what the last
// receive brought of the body. Closed when the server sent nothing at all.
Ending ReceiveHead(Transport& transport, HeadReader& reader, char* buffer, std::string_view& rest) {
    for (bool first = true;; first = false) {
        Ending failure = Ending::Cut;
        int64_t count = Receive(transport, buffer, failure);
        if (count == 0) return first ? Ending::Closed : Ending::Cut;
        if (count < 0) return failure;
        rest = std::string_view(buffer, static_cast<std::size_t>(count));
        ReadStep step = reader.Feed(rest);
        if (step != ReadStep::NeedMore)
            return step == ReadStep::Done ? Ending::Complete : Ending::Malformed;
    }
}

bool IsRedirect(const ResponseHead& head) {
    int code = head.status_code;
    bool redirect = code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
    return redirect && !head.location.empty();
}

bool IsAcceptable(const ResponseHead& head) {
    return (head.status_code == 200 || head.status_code == 302) && !head.length_invalid;
}

bool NamesHtmlFile(std::string_view url) {
    std::string name = LowerText(FileNameOf(UrlPart(url, "/PT/")));
    return name.ends_with(".htm") || name.ends_with(".html");
}

// written counts the body bytes that reached the file.
Ending ReceiveBody(Transport& transport, BodyReader body, std::string_view input, char* buffer,
                   BodyFile& file, FetchProgress* progress, int64_t& written) {
    for (;;) {
        std::string_view data;
        ReadStep step = body.Next(input, data);
        if (step == ReadStep::Data) {
            if (!file.Write(data)) return Ending::WriteFailed;
            written += static_cast<int64_t>(data.size());
            if (progress) progress->received += static_cast<int64_t>(data.size());
            continue;
        }
        if (step == ReadStep::Done) return Ending::Complete;
        if (step == ReadStep::Invalid) return Ending::Malformed;
        Ending failure = Ending::Cut;
        int64_t count = Receive(transport, buffer, failure);
        if (count == 0) return body.CompleteAtClose() ? Ending::Complete : Ending::Cut;
        if (count < 0) return failure;
        input = std::string_view(buffer, static_cast<std::size_t>(count));
    }
}

// ---- Texts for the user ----

std::string Formatted(const char* format, double value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string LimitText(std::chrono::milliseconds limit) {
    return Formatted("%g s", static_cast<double>(limit.count()) / 1000);
}

std::string SizeText(int64_t bytes) {
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    double value = static_cast<double>(bytes);
    if (value < 1e6) return Formatted("%.1f KB", value / 1e3);
    if (value < 1e9) return Formatted("%.1f MB", value / 1e6);
    return Formatted("%.1f GB", value / 1e9);
}

// How far a body came: "at 61%" of a known length (never 100 before the
// end), else "after 2.1 MB".
std::string ReachedText(int64_t received, int64_t length) {
    if (length <= 0) return "after " + SizeText(received);
    auto percent =
        static_cast<int>(100.0 * static_cast<double>(received) / static_cast<double>(length));
    return "at " + std::to_string(percent < 99 ? percent : 99) + "%";
}

std::string ConnectFailureText(const TransportFailure& why) {
    switch (why.net) {
        case NetOpenFailure::NotResolved:
            return "host not found";
        case NetOpenFailure::Refused:
            return "connection refused";
        case NetOpenFailure::TimedOut:
            return "no answer within " + LimitText(CurrentLimits.connect);
        case NetOpenFailure::Unreachable:
            return "host unreachable";
        case NetOpenFailure::Other:
            return "could not connect";
        case NetOpenFailure::None:
            break;
    }
    switch (why.tls) {
        case TlsFailure::Expired:
            return "certificate expired";
        case TlsFailure::Untrusted:
            return "certificate not trusted";
        case TlsFailure::WrongName:
            return "certificate is for another name";
        case TlsFailure::TimedOut:
            return "no answer within " + LimitText(CurrentLimits.connect);
        default:
            return "secure connection failed";
    }
}

std::string HeadFailureText(Ending ending) {
    switch (ending) {
        case Ending::Closed:
            return "server sent no answer";
        case Ending::Silent:
            return "server went silent";
        case Ending::Malformed:
            return "headers too long";
        default:
            return "answer cut short";
    }
}

std::string StatusText(const ResponseHead& head) {
    if (head.status_code < 0) return "not an HTTP answer";
    if (head.length_invalid) return "invalid length in the answer";
    return "HTTP " + std::to_string(head.status_code);
}

std::string BodyFailureText(Ending ending, const ResponseHead& head, int64_t received,
                            int64_t length) {
    switch (ending) {
        case Ending::Silent:
            return "server went silent " + ReachedText(received, length);
        case Ending::Malformed:
            return head.chunked ? "malformed chunk" : "too long without a length";
        case Ending::WriteFailed:
            return "cannot write the file";
        default:
            return "broke off " + ReachedText(received, length);
    }
}

// ---- One request ----

// What every request of one fetch shares.
struct FetchJob {
    std::string link;  // the URL as given
    std::string directory;
    std::string target;
    FetchProgress* progress = nullptr;
    // One buffer for every hop; a fetch may run on a thread with a small stack.
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(ReadBufferSize);
    std::optional<PartRecord> part;  // a kept part, while it may be continued
    int64_t part_size = 0;
};

// One request of a fetch: where it leads next, or how it ended.
struct Hop {
    enum Outcome { Failed, Saved, Redirected, Again } outcome = Failed;
    std::string next_url;
    std::string failure;  // why, when Failed
    int64_t bytes = 0;    // the file's size, when Saved
};

Hop Failure(std::string why) {
    return {Hop::Failed, {}, std::move(why), 0};
}

Hop Saved(int64_t bytes) {
    return {Hop::Saved, {}, {}, bytes};
}

void AddRangeHeaders(std::string& request, int64_t offset, const std::string& validator) {
    // Before the empty line that ends the request.
    request.insert(request.size() - 2, "Range: bytes=" + std::to_string(offset) +
                                           "-\r\nIf-Range: " + validator + "\r\n");
}

// Whether a 206 carries exactly the rest of the part's file, as it was.
bool ContinuesPart(const ResponseHead& head, const FetchJob& job) {
    const PartRecord& part = *job.part;
    std::optional<ContentRange> range = ContentRangeOf(head.content_range);
    const std::string& validator = part.etag ? head.etag : head.last_modified;
    return range && range->first == job.part_size && range->last == part.length - 1 &&
           range->complete == part.length && head.content_length == part.length - job.part_size &&
           validator == part.validator;
}

// Appends a 206's body to the part; the part is moved into place once whole.
Hop ContinueBody(FetchJob& job, Transport& transport, const ResponseHead& head,
                 std::string_view rest) {
    std::string part = PartNameOf(job.target);
    BodyFile file(BodyFile::Continue{}, part);
    if (!file.IsOpen()) return Failure("cannot write the file");
    if (job.progress) {
        job.progress->received = job.part_size;
        job.progress->expected = job.part->length;
    }
    int64_t written = 0;
    Ending ending = ReceiveBody(transport, BodyReader(head), rest, job.buffer.get(), file,
                                job.progress, written);
    int64_t received = job.part_size + written;
    if (ending == Ending::Complete) {
        if (!file.MoveTo(job.target)) return Failure("cannot write the file");
        RemoveFile(PartRecordNameOf(job.target));
        return Saved(received);
    }
    file.Close();
    return Failure(BodyFailureText(ending, head, received, job.part->length) +
                   " (kept for the next check)");
}

// Writes a body from its first byte. One that breaks off late is kept as a
// part when the server named the file's version.
Hop SaveBody(FetchJob& job, Transport& transport, const ResponseHead& head, std::string_view rest,
             const std::string& url) {
    // Whatever an older part held, this answer starts over.
    DropPart(job.target);
    job.part.reset();
    BodyFile file(job.directory);
    if (!file.IsOpen()) return Failure("cannot write in the download folder");
    if (job.progress) {
        job.progress->received = 0;
        job.progress->expected = head.content_length;
    }
    int64_t written = 0;
    Ending ending = ReceiveBody(transport, BodyReader(head), rest, job.buffer.get(), file,
                                job.progress, written);
    if (ending == Ending::Complete)
        return file.MoveTo(job.target) ? Saved(written) : Failure("cannot write the file");
    std::string why = BodyFailureText(ending, head, written, head.content_length);
    bool broke = ending == Ending::Cut || ending == Ending::Silent;
    std::optional<PartRecord> record = RecordFor(head, url);
    if (broke && written >= MinKeptPart && record &&
        SavePartRecord(job.directory, job.target, *record) && file.MoveTo(PartNameOf(job.target)))
        why += " (kept for the next check)";
    return Failure(why);
}

// Requests url once. A redirect is not followed here; any other answer that
// may be saved goes to the file, unless an HTML page ends a redirected chain.
// The part is asked for only from the URL that gave it.
Hop RequestOnce(FetchJob& job, const std::string& url, bool redirected) {
    std::optional<HttpRequestPlan> plan = PlanHttpRequest(url);
    if (!plan) return Failure("not an http or https link");
    bool asking = job.part && job.part->url == url;
    if (asking) AddRangeHeaders(plan->request, job.part_size, job.part->validator);
    TransportFailure why;
    std::optional<Transport> connection =
        TransportOpen(plan->host, plan->port, plan->secure, CurrentLimits.connect, &why);
    if (!connection) return Failure(ConnectFailureText(why));
    const std::string& request = plan->request;
    if (!TransportSendAll(*connection, request.data(), request.size(), CurrentLimits.send))
        return Failure("connection broke");
    HeadReader reader;
    std::string_view rest;
    Ending ending = ReceiveHead(*connection, reader, job.buffer.get(), rest);
    if (ending != Ending::Complete) return Failure(HeadFailureText(ending));
    const ResponseHead& head = reader.Head();
    if (IsRedirect(head)) {
        std::optional<std::string> next = ResolveLocation(url, head.location);
        if (!next) return Failure("redirect to a non-web link");
        return {Hop::Redirected, std::move(*next), {}, 0};
    }
    if (asking && head.status_code == 206 && ContinuesPart(head, job))
        return ContinueBody(job, *connection, head, rest);
    if (asking && (head.status_code == 206 || head.status_code == 416)) {
        // Not the rest of the same file: the part goes, and the file is asked for whole.
        DropPart(job.target);
        job.part.reset();
        return {Hop::Again, {}, {}, 0};
    }
    if (!IsAcceptable(head)) return Failure(StatusText(head));
    if (redirected && IsHtmlType(head.content_type) && !NamesHtmlFile(job.link))
        return Failure("redirected to a web page");
    return SaveBody(job, *connection, head, rest, url);
}

}  // namespace

void SetFetchLimitsForTests(const FetchLimits& limits) {
    CurrentLimits = limits;
}

std::optional<HttpRequestPlan> PlanHttpRequest(std::string_view url) {
    std::optional<HttpScheme> scheme = HttpSchemeOf(url);
    std::optional<std::string> host = HttpUrlField(url, HttpField::Host);
    if (!scheme || !host) return std::nullopt;
    for (char c : *host) {
        if (IsUnsafeByte(static_cast<unsigned char>(c))) return std::nullopt;
    }
    std::optional<std::string> port_text = HttpUrlField(url, HttpField::Port);
    HttpRequestPlan plan;
    plan.secure = *scheme == HttpScheme::Https;
    plan.port = port_text ? PortNumberOf(*port_text) : DefaultPort(*scheme);
    plan.host = *host;
    if (plan.host.size() > 2 && plan.host.front() == '[' && plan.host.back() == ']')
        plan.host = plan.host.substr(1, plan.host.size() - 2);
    plan.request = "GET /";
    AppendEscaped(plan.request, HttpUrlField(url, HttpField::PathWithQuery).value_or(""));
    plan.request += " HTTP/1.1\r\nAccept: */*\r\nHost: ";
    plan.request += *host;
    if (plan.port != DefaultPort(*scheme)) {
        plan.request += ':';
        plan.request += std::to_string(plan.port);
    }
    plan.request += "\r\nUser-Agent: Tavimor/" TAVIMOR_VERSION "\r\nConnection: close\r\n\r\n";
    return plan;
}

int FetchHttpFile(std::string_view url, std::string_view path, FetchProgress* progress,
                  FetchReport* report) {
    FetchReport ignored;
    FetchReport& out = report ? *report : ignored;
    out = FetchReport{};
    FetchJob job;
    job.link = url.substr(0, url.find('\0'));
    job.target = path.substr(0, path.find('\0'));
    job.progress = progress;
    std::optional<std::string> directory = DownloadDirectoryOf(job.target);
    if (!PlanHttpRequest(url)) {
        out.failure = "not an http or https link";
    } else if (!directory) {
        out.failure = QueryFileSize(job.target) == -2 ? "a folder has the file's name"
                                                      : "download folder missing";
    }
    if (!out.failure.empty()) return 0;
    job.directory = *directory;
    job.part = LoadPartRecord(job.target);
    job.part_size = QueryFileSize(PartNameOf(job.target));
    if (job.part && (job.part_size <= 0 || job.part_size >= job.part->length)) job.part.reset();
    std::string current = job.link;
    for (int redirects = 0;;) {
        Hop hop = RequestOnce(job, current, redirects > 0);
        if (hop.outcome == Hop::Saved) {
            out.bytes = hop.bytes;
            return 1;
        }
        if (hop.outcome == Hop::Failed) {
            out.failure = std::move(hop.failure);
            return 0;
        }
        if (hop.outcome == Hop::Again) continue;  // once at most: the part is gone
        if (++redirects > MaxRedirects) {
            out.failure = "too many redirects";
            return 0;
        }
        // A fragment is the client's own; only the typed link keeps sending it.
        current = hop.next_url.substr(0, hop.next_url.find('#'));
    }
}
