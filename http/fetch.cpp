#include "http/fetch.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "http/download_file.h"
#include "http/location.h"
#include "http/response.h"
#include "http/transport.h"
#include "http/url.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace {

FetchLimits CurrentLimits;

constexpr std::size_t WriteBlockSize = 64 * 1024;

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

// The body's file until it is complete: a dot name beside the target, removed
// unless Commit renames it over the target.
class TempFile {
  public:
    explicit TempFile(const std::string& directory) {
        bool taken = true;
        for (int attempt = 0; attempt < 8 && file_ == NoDownloadHandle && taken; ++attempt) {
            name_ = directory + ".tavimor-" + UniqueDownloadSuffix() + ".part";
            file_ = CreateDownloadFile(name_, taken);
        }
        created_ = file_ != NoDownloadHandle;
    }
    ~TempFile() {
        if (file_ != NoDownloadHandle) CloseDownloadFile(file_);
        // A name that was taken already belongs to someone else: only our own is removed.
        if (created_ && !committed_) RemoveDownloadFile(name_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsOpen() const { return file_ != NoDownloadHandle; }

    // Small receives are gathered into one fixed block before they go to the
    // disk, which halves the system calls per byte and keeps memory flat.
    bool Write(std::string_view data) {
        if (pending_ + data.size() > WriteBlockSize && !Flush()) return false;
        if (data.size() >= WriteBlockSize) return WriteOut(data);
        std::memcpy(block_.get() + pending_, data.data(), data.size());
        pending_ += data.size();
        return true;
    }

    bool Commit(const std::string& target) {
        DownloadHandle file = file_;
        bool flushed = Flush();
        file_ = NoDownloadHandle;
        if (!CloseDownloadFile(file) || !flushed) return false;
        committed_ = MoveDownloadOver(name_, target);
        return committed_;
    }

  private:
    bool Flush() {
        bool written = WriteOut(std::string_view(block_.get(), pending_));
        pending_ = 0;
        return written;
    }

    bool WriteOut(std::string_view data) { return WriteDownloadFile(file_, data); }

    std::unique_ptr<char[]> block_ = std::make_unique<char[]>(WriteBlockSize);
    std::size_t pending_ = 0;
    std::string name_;
    DownloadHandle file_ = NoDownloadHandle;
    bool created_ = false;
    bool committed_ = false;
};

class Connection {
  public:
    explicit Connection(std::optional<Transport> opened) : transport_(opened) {}
    ~Connection() {
        if (transport_) TransportClose(*transport_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool IsOpen() const { return transport_.has_value(); }
    Transport& Get() { return *transport_; }

  private:
    std::optional<Transport> transport_;
};

// Receives until the header block is complete; rest then holds what the last
// receive brought of the body.
bool ReceiveHead(Transport& transport, HeadReader& reader, char* buffer, std::string_view& rest) {
    for (;;) {
        int64_t count = TransportReceive(transport, buffer, ReadBufferSize, CurrentLimits.receive);
        if (count <= 0) return false;
        rest = std::string_view(buffer, static_cast<std::size_t>(count));
        ReadStep step = reader.Feed(rest);
        if (step != ReadStep::NeedMore) return step == ReadStep::Done;
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

bool ReceiveBody(Transport& transport, BodyReader body, std::string_view input, char* buffer,
                 TempFile& file, FetchProgress* progress, int64_t& written) {
    for (;;) {
        std::string_view data;
        ReadStep step = body.Next(input, data);
        if (step == ReadStep::Data) {
            if (!file.Write(data)) return false;
            written += static_cast<int64_t>(data.size());
            if (progress) progress->received += static_cast<int64_t>(data.size());
            continue;
        }
        if (step != ReadStep::NeedMore) return step == ReadStep::Done;
        int64_t count = TransportReceive(transport, buffer, ReadBufferSize, CurrentLimits.receive);
        if (count == 0) return body.CompleteAtClose();
        if (count < 0) return false;
        input = std::string_view(buffer, static_cast<std::size_t>(count));
    }
}

// One request of a fetch: where it leads next, or how it ended.
struct Hop {
    enum Outcome { Failed, Saved, Redirected } outcome = Failed;
    std::string next_url;
    std::string failure;  // why, when Failed
    int64_t bytes = 0;    // the body's size, when Saved
};

Hop Failure(std::string why) {
    return {Hop::Failed, {}, std::move(why), 0};
}

// Requests url once. A redirect is not followed here; any other answer that
// may be saved goes to file, unless an HTML page ends a redirected chain.
Hop RequestOnce(std::string_view url, bool redirected, std::string_view link, char* buffer,
                const std::string& directory, const std::string& target, FetchProgress* progress) {
    std::optional<HttpRequestPlan> plan = PlanHttpRequest(url);
    if (!plan) return Failure("not an http or https link");
    Connection connection(
        TransportOpen(plan->host, plan->port, plan->secure, CurrentLimits.connect));
    if (!connection.IsOpen()) return Failure("could not connect");
    const std::string& request = plan->request;
    if (!TransportSendAll(connection.Get(), request.data(), request.size(), CurrentLimits.send))
        return Failure("server went silent");
    HeadReader reader;
    std::string_view rest;
    if (!ReceiveHead(connection.Get(), reader, buffer, rest)) return Failure("no proper answer");
    const ResponseHead& head = reader.Head();
    if (IsRedirect(head)) {
        std::optional<std::string> next = ResolveLocation(url, head.location);
        if (!next) return Failure("redirect to another scheme");
        return {Hop::Redirected, std::move(*next), {}, 0};
    }
    if (!IsAcceptable(head)) return Failure("HTTP " + std::to_string(head.status_code));
    if (redirected && IsHtmlType(head.content_type) && !NamesHtmlFile(link))
        return Failure("redirected to a web page");
    TempFile file(directory);
    if (!file.IsOpen()) return Failure("cannot write the file");
    if (progress) progress->expected = head.content_length;
    int64_t written = 0;
    if (!ReceiveBody(connection.Get(), BodyReader(head), rest, buffer, file, progress, written))
        return Failure("download broke off");
    if (!file.Commit(target)) return Failure("cannot write the file");
    return {Hop::Saved, {}, {}, written};
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
    std::string target(path.substr(0, path.find('\0')));
    if (!PlanHttpRequest(url)) {
        out.failure = "not an http or https link";
        return 0;
    }
    std::optional<std::string> directory = DownloadDirectoryOf(target);
    if (!directory) {
        out.failure = "download folder missing";
        return 0;
    }
    // One buffer for every hop; a fetch may run on a thread with a small stack.
    auto buffer = std::make_unique<char[]>(ReadBufferSize);
    std::string current(url.substr(0, url.find('\0')));
    for (int redirects = 0; redirects <= MaxRedirects; ++redirects) {
        Hop hop =
            RequestOnce(current, redirects > 0, url, buffer.get(), *directory, target, progress);
        if (hop.outcome == Hop::Saved) {
            out.bytes = hop.bytes;
            return 1;
        }
        if (hop.outcome == Hop::Failed) {
            out.failure = std::move(hop.failure);
            return 0;
        }
        // A fragment is the client's own; only the typed link keeps sending it.
        current = hop.next_url.substr(0, hop.next_url.find('#'));
    }
    out.failure = "too many redirects";
    return 0;
}
