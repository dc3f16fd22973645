#include "http/fetch.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "http/download_file.h"
#include "http/location.h"
#include "http/part_file.h"
#include "http/request_plan.h"
#include "http/response.h"
#include "http/transport.h"
#include "http/url.h"
#include "runtime/files.h"
#include "runtime/text.h"

namespace {

using Clock = std::chrono::steady_clock;

FetchLimits CurrentLimits;
std::optional<ProxySettings> ProxiesForTests;

// How often a waiting receive looks whether the fetch is to stop.
constexpr std::chrono::milliseconds StopCheck{250};
// How often a growing body looks at the room left on its disk.
constexpr int64_t DiskCheckEvery = 1 << 20;

// How receiving a head or a body ended.
enum class Ending {
    Complete,
    Closed,  // before any byte
    Cut,     // closed or broken early
    Silent,  // nothing for the receive limit
    Malformed,
    WriteFailed,
    HeadTooSlow,  // no whole head within the head limit
    TooSlow,      // a body under the slowest speed for a whole window
    DiskFull,
    Stopped,   // the caller asked
    Unproven,  // a body read until close whose close nothing proves
};

// What every request of one fetch shares.
struct FetchJob {
    std::string link;  // the URL as given
    // The link's own credentials, and the one origin they go to.
    std::string authorization;
    std::string origin;
    ProxySettings proxies;
    std::string directory;
    std::string target;
    FetchProgress* progress = nullptr;
    const ReplaceCheck* may_replace = nullptr;
    // One buffer for every hop; a fetch may run on a thread with a small stack.
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(ReadBufferSize);
    std::optional<PartRecord> part;  // a kept part, while it may be continued
    int64_t part_size = 0;

    bool StopAsked() const { return progress && progress->stop.load(); }
};

// One receive into the job's buffer: it waits at most the receive limit and
// never past deadline, looking between slices whether the fetch is to stop.
int64_t Receive(const FetchJob& job, Transport& transport, Clock::time_point deadline,
                Ending& failure) {
    const Clock::time_point silent = Clock::now() + CurrentLimits.receive;
    const Clock::time_point end = std::min(silent, deadline);
    for (;;) {
        if (job.StopAsked()) {
            failure = Ending::Stopped;
            return -1;
        }
        const Clock::time_point start = Clock::now();
        if (start >= end) {
            failure = deadline < silent ? Ending::HeadTooSlow : Ending::Silent;
            return -1;
        }
        auto slice = std::min(std::chrono::ceil<std::chrono::milliseconds>(end - start), StopCheck);
        int64_t count = TransportReceive(transport, job.buffer.get(), ReadBufferSize, slice);
        if (count >= 0) return count;
        // A receive that failed before its time was up found the connection broken.
        if (Clock::now() - start < slice) {
            failure = Ending::Cut;
            return -1;
        }
    }
}

// Receives until a final header block is complete, skipping interim answers;
// rest then holds what came of the body. Closed when the server sent nothing.
Ending ReceiveHead(const FetchJob& job, Transport& transport, HeadReader& reader,
                   std::string_view& rest) {
    const Clock::time_point deadline = Clock::now() + CurrentLimits.head;
    bool answered = false;
    for (;;) {
        while (!rest.empty()) {
            answered = true;
            ReadStep step = reader.Feed(rest);
            if (step == ReadStep::Invalid) return Ending::Malformed;
            if (step == ReadStep::NeedMore) break;
            if (!IsInterim(reader.Head())) return Ending::Complete;
            reader = HeadReader();
        }
        Ending failure = Ending::Cut;
        int64_t count = Receive(job, transport, deadline, failure);
        if (count == 0) return answered ? Ending::Cut : Ending::Closed;
        if (count < 0) return failure;
        rest = std::string_view(job.buffer.get(), static_cast<std::size_t>(count));
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
    return name.ends_with(".htm") || name.ends_with(".html") || name.ends_with(".xhtml") ||
           name.ends_with(".shtml");
}

// Whether the job's disk keeps its reserve free with more bytes on it; yes
// when the system does not tell.
bool RoomFor(const FetchJob& job, int64_t more) {
    std::optional<DiskSpace> disk = QueryDiskSpace(job.directory);
    if (!disk) return true;
    int64_t reserve = CurrentLimits.disk_reserve;
    if (reserve < 0) reserve = std::min(DiskReserve, disk->total / 100 * DiskReservePercent);
    return disk->free - std::max<int64_t>(more, 0) >= reserve;
}

// written counts the body bytes that reached the file.
Ending ReceiveBody(const FetchJob& job, Transport& transport, BodyReader body,
                   std::string_view input, BodyFile& file, int64_t& written) {
    Clock::time_point window = Clock::now();
    int64_t window_bytes = 0;
    int64_t next_disk_check = written + DiskCheckEvery;
    for (;;) {
        std::string_view data;
        ReadStep step = body.Next(input, data);
        if (step == ReadStep::Data) {
            if (!file.Write(data)) return Ending::WriteFailed;
            auto size = static_cast<int64_t>(data.size());
            written += size;
            window_bytes += size;
            if (job.progress) job.progress->received += size;
            if (written >= next_disk_check) {
                if (!RoomFor(job, 0)) return Ending::DiskFull;
                next_disk_check = written + DiskCheckEvery;
            }
            continue;
        }
        if (step == ReadStep::Done) return Ending::Complete;
        if (step == ReadStep::Invalid) return Ending::Malformed;
        const Clock::time_point now = Clock::now();
        if (now - window >= CurrentLimits.speed_window) {
            double seconds = std::chrono::duration<double>(now - window).count();
            if (static_cast<double>(window_bytes) < seconds * CurrentLimits.slowest_speed)
                return Ending::TooSlow;
            window = now;
            window_bytes = 0;
        }
        Ending failure = Ending::Cut;
        int64_t count = Receive(job, transport, Clock::time_point::max(), failure);
        if (count == 0) {
            if (!body.CompleteAtClose()) return Ending::Cut;
            return TransportEndProven(transport) ? Ending::Complete : Ending::Unproven;
        }
        if (count < 0) return failure;
        input = std::string_view(job.buffer.get(), static_cast<std::size_t>(count));
    }
}

// ---- Why a hop failed ----

// A failure and its detail, for FetchFailureText.
struct Why {
    Why(FetchFailure failure = FetchFailure::None, std::string words = {})
        : reason(failure), detail(std::move(words)) {}
    FetchFailure reason;
    std::string detail;
};

std::string LimitText(std::chrono::milliseconds limit) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(limit.count()) / 1000);
    return text;
}

// How far a body came: "at 61%" of a known length (never 100 before the
// end), else "after 2.1 MB".
std::string ReachedText(int64_t received, int64_t length) {
    if (length <= 0) return "after " + SizeText(received);
    auto percent =
        static_cast<int>(100.0 * static_cast<double>(received) / static_cast<double>(length));
    return "at " + std::to_string(percent < 99 ? percent : 99) + "%";
}

Why ConnectFailure(const TransportFailure& why) {
    using F = FetchFailure;
    switch (why.net) {
        case NetOpenFailure::NotResolved:
            return {F::HostNotFound};
        case NetOpenFailure::Refused:
            return {F::Refused};
        case NetOpenFailure::TimedOut:
            return {F::NoAnswerWithin, LimitText(CurrentLimits.connect)};
        case NetOpenFailure::Unreachable:
            return {F::Unreachable};
        case NetOpenFailure::Other:
            return {F::CannotConnect};
        case NetOpenFailure::None:
            break;
    }
    switch (why.tls) {
        case TlsFailure::Expired:
            return {F::CertificateExpired};
        case TlsFailure::Untrusted:
            return {F::CertificateNotTrusted};
        case TlsFailure::WrongName:
            return {F::CertificateForAnotherName};
        case TlsFailure::TimedOut:
            return {F::NoAnswerWithin, LimitText(CurrentLimits.connect)};
        default:
            return {F::SecureConnectionFailed};
    }
}

Why HeadFailure(Ending ending) {
    switch (ending) {
        case Ending::Closed:
            return {FetchFailure::NoAnswerSent};
        case Ending::Silent:
            return {FetchFailure::ServerSilent};
        case Ending::Malformed:
            return {FetchFailure::HeadersTooLong};
        case Ending::HeadTooSlow:
            return {FetchFailure::NoHeadersWithin, LimitText(CurrentLimits.head)};
        case Ending::Stopped:
            return {FetchFailure::Stopped, "before the answer"};
        default:
            return {FetchFailure::AnswerCutShort};
    }
}

Why StatusFailure(const ResponseHead& head) {
    if (head.status_code < 0) return {FetchFailure::NotHttpAnswer};
    if (head.length_invalid) return {FetchFailure::InvalidLength};
    return {FetchFailure::HttpStatus, std::to_string(head.status_code)};
}

Why BodyFailure(Ending ending, const ResponseHead& head, int64_t received, int64_t length) {
    switch (ending) {
        case Ending::Silent:
            return {FetchFailure::ServerSilentPartWay, ReachedText(received, length)};
        case Ending::Malformed:
            return {head.chunked ? FetchFailure::MalformedChunk
                                 : FetchFailure::TooLongWithoutLength};
        case Ending::WriteFailed:
            return {FetchFailure::CannotWriteFile};
        case Ending::TooSlow:
            return {FetchFailure::TooSlow, ReachedText(received, length)};
        case Ending::Stopped:
            return {FetchFailure::Stopped, ReachedText(received, length)};
        case Ending::DiskFull:
            return {FetchFailure::DiskNearlyFull};
        case Ending::Unproven:
            return {FetchFailure::AnswerCutShort};
        default:
            return {FetchFailure::BrokeOff, ReachedText(received, length)};
    }
}

// ---- One request ----

// One request of a fetch: where it leads next, or how it ended.
struct Hop {
    enum Outcome { Failed, Saved, Redirected, Again } outcome = Failed;
    std::string next_url;  // when Redirected
    Why why;               // when Failed
    bool kept = false;     // when Failed: the body so far was kept as a part
    int64_t bytes = 0;     // the file's size, when Saved
};

Hop Failure(Why why, bool kept = false) {
    return {Hop::Failed, {}, std::move(why), kept, 0};
}

Hop Saved(int64_t bytes) {
    return {Hop::Saved, {}, {}, false, bytes};
}

// Moves a complete body over the target, unless the caller says it may not
// replace the file there.
Hop Finish(const FetchJob& job, BodyFile& file, int64_t bytes) {
    file.MarkDownloaded(job.link);
    if (job.may_replace && *job.may_replace && QueryFileSize(job.target) >= 0) {
        if (!file.Flush()) return Failure(FetchFailure::CannotWriteFile);
        if (!(*job.may_replace)(file.Path())) return Failure(FetchFailure::NotReplaced);
    }
    return file.MoveTo(job.target) ? Saved(bytes) : Failure(FetchFailure::CannotWriteFile);
}

// Appends a 206's body to the part; the part is moved into place once whole.
Hop ContinueBody(FetchJob& job, Transport& transport, const ResponseHead& head,
                 std::string_view rest) {
    if (!RoomFor(job, job.part->length - job.part_size))
        return Failure(FetchFailure::DiskNearlyFull);
    std::string part = PartNameOf(job.target);
    BodyFile file(BodyFile::Continue{}, part);
    if (!file.IsOpen()) {
        // No longer a file of ours to add to (a link in its place, say): the
        // whole file is asked for instead.
        DropPart(job.target);
        job.part.reset();
        return {Hop::Again, {}, {}, false, 0};
    }
    if (job.progress) {
        job.progress->received = job.part_size;
        job.progress->expected = job.part->length;
    }
    int64_t written = 0;
    Ending ending = ReceiveBody(job, transport, BodyReader(head), rest, file, written);
    int64_t received = job.part_size + written;
    if (ending == Ending::Complete) {
        Hop hop = Finish(job, file, received);
        if (hop.outcome == Hop::Saved) RemoveFile(PartRecordNameOf(job.target));
        if (hop.why.reason == FetchFailure::NotReplaced) {
            file.Close();
            DropPart(job.target);
        }
        return hop;
    }
    file.Close();
    return Failure(BodyFailure(ending, head, received, job.part->length), true);
}

// Writes a body from its first byte. One that breaks off late is kept as a
// part when the server named the file's version.
Hop SaveBody(FetchJob& job, Transport& transport, const ResponseHead& head, std::string_view rest,
             const std::string& url) {
    // Whatever an older part held, this answer starts over.
    DropPart(job.target);
    job.part.reset();
    if (!RoomFor(job, head.content_length)) return Failure(FetchFailure::DiskNearlyFull);
    BodyFile file(job.directory);
    if (!file.IsOpen()) return Failure(FetchFailure::CannotWriteInFolder);
    if (job.progress) {
        job.progress->received = 0;
        job.progress->expected = head.content_length;
    }
    int64_t written = 0;
    Ending ending = ReceiveBody(job, transport, BodyReader(head), rest, file, written);
    if (ending == Ending::Complete) return Finish(job, file, written);
    bool broke = ending == Ending::Cut || ending == Ending::Silent || ending == Ending::TooSlow ||
                 ending == Ending::Stopped;
    std::optional<PartRecord> record = RecordFor(head, url);
    bool kept = broke && written >= MinKeptPart && record &&
                SavePartRecord(job.directory, job.target, *record) &&
                file.MoveTo(PartNameOf(job.target));
    return Failure(BodyFailure(ending, head, written, head.content_length), kept);
}

// The origin's host and port as CONNECT names them.
std::string TunnelTarget(const HttpRequestPlan& plan) {
    bool literal = plan.host.find(':') != std::string::npos;
    return (literal ? "[" + plan.host + "]" : plan.host) + ":" + std::to_string(plan.port);
}

// A plain connection through the proxy to the plan's origin, its TLS started
// over it for https; nothing, with why set, when the tunnel is not made.
std::optional<Transport> OpenTunnel(FetchJob& job, Transport proxy, const HttpRequestPlan& plan,
                                    const ProxyServer& server, Why& why) {
    const std::string target = TunnelTarget(plan);
    const std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n" +
                                server.authorization + "\r\n";
    if (!TransportSendAll(proxy, request.data(), request.size(), CurrentLimits.send)) {
        why = {FetchFailure::ProxyNotReachable};
        return std::nullopt;
    }
    HeadReader reader;
    std::string_view rest;
    Ending ending = ReceiveHead(job, proxy, reader, rest);
    const ResponseHead& head = reader.Head();
    if (ending != Ending::Complete) {
        why = HeadFailure(ending);
    } else if (head.status_code == 407) {
        why = {FetchFailure::ProxyWantsCredentials};
    } else if (head.status_code < 200 || head.status_code > 299 || !rest.empty()) {
        why = {FetchFailure::ProxyRefusedTunnel, "HTTP " + std::to_string(head.status_code)};
    } else {
        TransportFailure failure;
        if (TransportStartTls(proxy, plan.host, Clock::now() + CurrentLimits.connect, &failure.tls))
            return proxy;
        why = ConnectFailure(failure);
    }
    return std::nullopt;
}

// A connection to the plan's origin: directly, or through the route's proxy,
// which takes a plain link's request in absolute form and tunnels https.
std::optional<Transport> Connect(FetchJob& job, HttpRequestPlan& plan, const ProxyRoute& route,
                                 Why& why) {
    TransportFailure failure;
    if (!route.proxy) {
        std::optional<Transport> direct =
            TransportOpen(plan.host, plan.port, plan.secure, CurrentLimits.connect, &failure);
        if (!direct) why = ConnectFailure(failure);
        return direct;
    }
    const ProxyServer& server = *route.proxy;
    std::optional<Transport> proxy =
        TransportOpen(server.host, server.port, false, CurrentLimits.connect, &failure);
    if (!proxy) {
        why = {FetchFailure::ProxyNotReachable};
        return std::nullopt;
    }
    if (plan.secure) return OpenTunnel(job, std::move(*proxy), plan, server, why);
    UseAbsoluteForm(plan);
    AddHeaderLines(plan, server.authorization);
    return proxy;
}

// Requests url once. A redirect is not followed here; any other answer that
// may be saved goes to the file, unless it is a web page the link did not ask for.
// The part is asked for only from the URL that gave it.
Hop RequestOnce(FetchJob& job, const std::string& url) {
    std::optional<HttpRequestPlan> plan = PlanHttpRequest(url);
    if (!plan) return Failure(FetchFailure::NotWebLink);
    // Credentials go to the link's own origin alone, as the user gave them there.
    bool credentials = !job.authorization.empty() && OriginOf(url) == job.origin;
    if (credentials) AddHeaderLines(*plan, job.authorization);
    bool asking = job.part && job.part->url == WithoutUserInfo(url);
    if (asking) AddHeaderLines(*plan, ResumeHeaders(*job.part, job.part_size));
    ProxyRoute route = RouteFor(job.proxies, url);
    if (!route.unsupported.empty())
        return Failure({FetchFailure::UnsupportedProxy, route.unsupported});
    Why why;
    std::optional<Transport> connection = Connect(job, *plan, route, why);
    if (!connection) return Failure(why);
    const std::string& request = plan->request;
    if (!TransportSendAll(*connection, request.data(), request.size(), CurrentLimits.send))
        return Failure(FetchFailure::ConnectionBroke);
    HeadReader reader;
    std::string_view rest;
    Ending ending = ReceiveHead(job, *connection, reader, rest);
    if (ending != Ending::Complete) return Failure(HeadFailure(ending));
    const ResponseHead& head = reader.Head();
    if (IsRedirect(head)) {
        std::optional<std::string> next = ResolveLocation(url, head.location);
        if (!next) return Failure(FetchFailure::RedirectNotWeb);
        // Whoever sits on the plain hop would choose the file saved under the
        // https link's name.
        if (HttpSchemeOf(job.link) == HttpScheme::Https && HttpSchemeOf(*next) == HttpScheme::Http)
            return Failure(FetchFailure::RedirectToPlainHttp);
        return {Hop::Redirected, std::move(*next), {}, false, 0};
    }
    if (asking && head.status_code == 206 && ContinuesPart(head, *job.part, job.part_size))
        return ContinueBody(job, *connection, head, rest);
    if (asking && (head.status_code == 206 || head.status_code == 416)) {
        // Not the rest of the same file: the part goes, and the file is asked for whole.
        DropPart(job.target);
        job.part.reset();
        return {Hop::Again, {}, {}, false, 0};
    }
    if (route.proxy && head.status_code == 407) return Failure(FetchFailure::ProxyWantsCredentials);
    if (head.status_code == 401)
        return Failure(credentials ? FetchFailure::CredentialsRefused
                                   : FetchFailure::CredentialsWanted);
    if (!IsAcceptable(head)) return Failure(StatusFailure(head));
    // A "coming soon" page or a soft 404 answered with 200 is no file, and a
    // dead link sent to a home page neither.
    if (IsHtmlType(head.content_type) && !NamesHtmlFile(job.link))
        return Failure(FetchFailure::WebPageInstead);
    return SaveBody(job, *connection, head, rest, url);
}

// Requests the link and follows its redirects: the hop that ended the chain.
Hop FollowChain(FetchJob& job) {
    std::string current = job.link;
    for (int redirects = 0;;) {
        if (job.StopAsked()) return Failure(HeadFailure(Ending::Stopped));
        Hop hop = RequestOnce(job, current);
        if (hop.outcome == Hop::Saved || hop.outcome == Hop::Failed) return hop;
        if (hop.outcome == Hop::Again) continue;  // once at most: the part is gone
        if (++redirects > MaxRedirects) return Failure(FetchFailure::TooManyRedirects);
        // A fragment is the client's own; only the typed link keeps sending it.
        current = hop.next_url.substr(0, hop.next_url.find('#'));
    }
}

}  // namespace

void SetFetchLimitsForTests(const FetchLimits& limits) {
    CurrentLimits = limits;
}

void SetProxySettingsForTests(std::optional<ProxySettings> settings) {
    ProxiesForTests = std::move(settings);
}

std::string FetchFailureText(FetchFailure failure, std::string_view detail) {
    std::string text(FetchFailureTexts[static_cast<std::size_t>(failure)]);
    std::size_t slot = text.find("{}");
    if (slot != std::string::npos) text.replace(slot, 2, detail);
    return text;
}

int FetchHttpFile(std::string_view url, std::string_view path, FetchProgress* progress,
                  FetchReport* report, const ReplaceCheck& may_replace) {
    FetchJob job;
    job.link = url.substr(0, url.find('\0'));
    job.authorization = AuthorizationLine(job.link);
    job.origin = OriginOf(job.link);
    job.proxies = ProxiesForTests ? *ProxiesForTests : CurrentProxySettings();
    job.target = path.substr(0, path.find('\0'));
    job.progress = progress;
    job.may_replace = &may_replace;
    std::optional<std::string> directory = DownloadDirectoryOf(job.target);
    Hop end;
    if (!PlanHttpRequest(url)) {
        bool port_alone = HttpUrlField(url, HttpField::Host) && !HttpPortOf(url);
        end = Failure(HttpSchemeOf(url) && port_alone ? FetchFailure::InvalidPort
                                                      : FetchFailure::NotWebLink);
    } else if (!directory) {
        end = Failure(QueryFileSize(job.target) == -2 ? FetchFailure::FolderHasFileName
                                                      : FetchFailure::FolderMissing);
    } else {
        job.directory = *directory;
        job.part = LoadPartRecord(job.target);
        job.part_size = QueryFileSize(PartNameOf(job.target));
        if (job.part && (job.part_size <= 0 || job.part_size >= job.part->length)) job.part.reset();
        end = FollowChain(job);
    }
    if (report) {
        *report = FetchReport{};
        if (end.outcome == Hop::Saved) {
            report->bytes = end.bytes;
        } else {
            report->reason = end.why.reason;
            report->failure = FetchFailureText(end.why.reason, end.why.detail);
            if (end.kept) report->failure += KeptForNextCheck;
        }
    }
    return end.outcome == Hop::Saved ? 1 : 0;
}
