// The HTTP file download: an HTTP/1.1 GET over plain TCP or TLS, following
// redirects, the final response body written to a local file. Nothing is
// decoded, and every connection is closed after its one request.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "http/proxy.h"

// Largest single receive, and the size of the one buffer a fetch receives into.
inline constexpr std::size_t ReadBufferSize = 64 * 1024;
// Redirects followed before a fetch gives up.
inline constexpr int MaxRedirects = 10;
inline constexpr std::chrono::seconds ConnectTimeLimit{10};
inline constexpr std::chrono::seconds SendTimeLimit{10};
inline constexpr std::chrono::seconds ReceiveTimeLimit{10};
inline constexpr std::chrono::seconds HeadTimeLimit{30};
// A body slower than this on average over a whole window ends as "too slow".
inline constexpr int64_t SlowestBodySpeed = 1024;  // bytes a second
inline constexpr std::chrono::seconds SpeedWindow{60};
// What a download leaves free on its disk: 1 GiB, or 5% of a smaller disk.
inline constexpr int64_t DiskReserve = int64_t{1} << 30;
inline constexpr int DiskReservePercent = 5;

// The limits of a fetch: bounded time for every step, a bounded crawl for a
// body, and room left on the disk.
struct FetchLimits {
    std::chrono::milliseconds connect = ConnectTimeLimit;  // setting up the connection
    std::chrono::milliseconds send = SendTimeLimit;        // sending the whole request
    std::chrono::milliseconds receive = ReceiveTimeLimit;  // each receive: the longest silence
    std::chrono::milliseconds head = HeadTimeLimit;  // from a request to the end of its headers
    int64_t slowest_speed = SlowestBodySpeed;
    std::chrono::milliseconds speed_window = SpeedWindow;
    int64_t disk_reserve = -1;  // bytes; -1: DiskReserve or DiskReservePercent of the disk
};

// For tests only, to keep their waits short: replaces the limits of every later
// fetch. The program never calls it and runs with FetchLimits{}.
void SetFetchLimitsForTests(const FetchLimits& limits);

// For tests only: every later fetch uses these proxy settings instead of the
// environment's and the system's; nothing goes back to those.
void SetProxySettingsForTests(std::optional<ProxySettings> settings);

// What a fetch has received of its final body so far, for another thread to
// show, and that thread's request to end it.
struct FetchProgress {
    std::atomic<int64_t> received{0};   // body bytes received
    std::atomic<int64_t> expected{-1};  // the announced length; -1 when unknown
    // Once set, the fetch ends within a quarter of a second as "stopped", a
    // body that broke off (a large part kept, as ever).
    std::atomic<bool> stop{false};
};

// Why a fetch failed. Each has its words for the user in FetchFailureTexts.
enum class FetchFailure {
    None,
    NotWebLink,
    InvalidPort,
    FolderMissing,
    FolderHasFileName,
    HostNotFound,
    Refused,
    Unreachable,
    CannotConnect,
    NoAnswerWithin,
    CertificateExpired,
    CertificateNotTrusted,
    CertificateForAnotherName,
    SecureConnectionFailed,
    ConnectionBroke,
    NoAnswerSent,
    ServerSilent,
    AnswerCutShort,
    HeadersTooLong,
    NotHttpAnswer,
    InvalidLength,
    HttpStatus,
    TooManyRedirects,
    RedirectNotWeb,
    RedirectToPlainHttp,
    WebPageInstead,
    CredentialsWanted,
    CredentialsRefused,
    UnsupportedProxy,
    ProxyNotReachable,
    ProxyWantsCredentials,
    ProxyRefusedTunnel,
    CannotWriteInFolder,
    CannotWriteFile,
    MalformedChunk,
    TooLongWithoutLength,
    BrokeOff,
    ServerSilentPartWay,
    NoHeadersWithin,
    TooSlow,
    DiskNearlyFull,
    Stopped,
    NotReplaced,
};

// The words of each failure, in the order of the enum; "{}" stands for its
// detail: a time limit ("10 s"), a status code, or how far the body came ("at
// 61%", "after 2.1 MB").
inline constexpr std::string_view FetchFailureTexts[] = {
    "",
    "not an http or https link",
    "invalid port in the link",
    "download folder missing",
    "a folder has the file's name",
    "host not found",
    "connection refused",
    "host unreachable",
    "could not connect",
    "no answer within {}",
    "certificate expired",
    "certificate not trusted",
    "certificate is for another name",
    "secure connection failed",
    "connection broke",
    "server sent no answer",
    "server went silent",
    "answer cut short",
    "headers too long",
    "not an HTTP answer",
    "invalid length in the answer",
    "HTTP {}",
    "too many redirects",
    "redirect to a non-web link",
    "redirected from https to plain http",
    "a web page came instead of the file",
    "the server wants a user name and password",
    "user name or password refused",
    "unsupported proxy {}",
    "proxy not reachable",
    "proxy wants a user name and password",
    "proxy refused the tunnel ({})",
    "cannot write in the download folder",
    "cannot write the file",
    "malformed chunk",
    "too long without a length",
    "broke off {}",
    "server went silent {}",
    "no headers within {}",
    "too slow {}",
    "disk nearly full",
    "stopped {}",
    "not saved over the file already there",
};
static_assert(std::size(FetchFailureTexts) ==
              static_cast<std::size_t>(FetchFailure::NotReplaced) + 1);

// The words of failure, with detail in place of its "{}".
std::string FetchFailureText(FetchFailure failure, std::string_view detail = {});

// A body that broke off and was kept as a part says so after its failure's words.
inline constexpr std::string_view KeptForNextCheck = " (kept for the next check)";

// Why a fetch ended, for the user; filled in by FetchHttpFile when given.
struct FetchReport {
    FetchFailure reason = FetchFailure::None;  // None when the fetch returned 1
    // The reason in the user's words, its detail filled in and KeptForNextCheck
    // added when a part was kept: "HTTP 404", "no answer within 10 s", "broke off
    // at 61% (kept for the next check)"...; "" when the fetch returned 1.
    std::string failure;
    int64_t bytes = 0;  // the size of the file written, when the fetch returned 1
};

// Fetches url and writes the final response body to the file path, replacing
// any file there. Redirects (301, 302, 303, 307, 308 with a Location) are
// followed, each with a new connection and GET, at most MaxRedirects of them.
// Returns 1 when the final status code was 200 or 302 (a 302 without a
// Location), or 206 continuing a kept part (below), and the whole body has
// been received and written; 0 otherwise, and then the file at path is as it
// was. A final answer that is a web page (IsHtmlType) fails too, a "coming
// soon" page or a dead link sent to a home page, unless url's own file name
// ends in ".htm", ".html", ".xhtml" or ".shtml"; and so does a chain begun on
// https that leads to plain http. The body goes to a hidden temporary file
// beside path, which is renamed over path only on success and removed on every
// other outcome but one: Resume. A counted body that breaks off (cut short, or
// silent for the receive limit) after at least 1 MiB of it arrived is kept as
// "<path>.part" (the
// temporary file renamed), beside a record "<path>.part.tavimor" of the URL
// that answered, the full length and the answer's validator: a strong ETag,
// else Last-Modified; without either nothing is kept. The next fetch of path
// whose chain reaches that URL asks it for "Range: bytes=N-" (N the part's
// size) with "If-Range: <validator>". A 206 whose Content-Range is
// "bytes N-(length-1)/length", whose Content-Length is the rest, and whose own
// validator is the recorded one is appended to the part, which is renamed over
// path once whole; a 206 that breaks off again keeps the part as far as it
// came. Any other 206, and a 416, remove the part and its record and the URL
// is asked again for the whole file; a 200, or any body written from its start,
// removes them too. A part without a record that parses is never added to.
// Other failures (no connection, a 404...) leave a kept part as it is.
// Fails before any traffic when the plan fails, or when path is empty, ends
// with "/", names a directory, or lies in a directory that does not exist.
// Fails after connecting when TLS cannot be set up or its checks fail, when a
// redirect leads nowhere (too many, or to another scheme), or when the
// response is not a complete answer: no header block within 64 KiB or within
// the head limit of its request (interim 1xx answers before it are skipped), a
// Content-Length not of digits alone or two that differ (chunked coding
// outranks a length), a counted or chunked body cut short, a malformed chunk,
// a body read until close over TLS that ends without close_notify, or a
// connection that stays silent for the receive limit before the body ends. A
// body that averages under the slowest speed over a whole speed window ends
// "too slow", one that would leave the disk less free than the reserve ends
// "disk nearly full" (nothing kept), and progress's stop ends a fetch
// "stopped"; of a body too slow or stopped a large enough part is kept as above.
// may_replace, when given, is asked on the fetching thread before a complete
// body replaces a file already at path, with the path of the body's temporary
// file; false keeps that file, removes the body and fails as NotReplaced.
// report, when given, is filled in on every outcome: the size of the file
// written, or the failure (FetchFailure). A body that ended early says how far
// it came, "at 61%" of a known length, else "after 2.1 MB".
// Blocks the calling thread; each wait is bounded by FetchLimits, name
// resolution only by the platform. Needs NetStartup. progress, when given, is
// kept up to date while the body arrives, a continued part's bytes counted as
// received and the full length as expected.
using ReplaceCheck = std::function<bool(const std::string& body_path)>;
int FetchHttpFile(std::string_view url, std::string_view path, FetchProgress* progress = nullptr,
                  FetchReport* report = nullptr, const ReplaceCheck& may_replace = {});
