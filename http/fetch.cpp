#include "http/fetch.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "http/net.h"
#include "http/response.h"
#include "http/url.h"

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

// The directory the temporary file goes to (ending with "/"), or nothing when
// path cannot name a file there.
std::optional<std::string> TargetDirectory(const std::string& path) {
    if (path.empty() || path.back() == '/') return std::nullopt;
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return std::nullopt;
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string("./");
    std::string directory = path.substr(0, slash + 1);
    if (stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
    return directory;
}

std::string UniqueSuffix() {
    static uint64_t counter = 0;
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof value)) {
        value = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    value ^= (static_cast<uint64_t>(getpid()) << 32) ^ ++counter;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// The body's file until it is complete: hidden beside the target, and removed
// unless Commit renames it over the target.
class TempFile {
  public:
    explicit TempFile(const std::string& directory) {
        for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
            name_ = directory + ".tavimor-" + UniqueSuffix() + ".part";
            fd_ = open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        created_ = fd_ >= 0;
    }
    ~TempFile() {
        if (fd_ >= 0) close(fd_);
        // A name that was taken already belongs to someone else: only our own is removed.
        if (created_ && !committed_) unlink(name_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

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
        int fd = fd_;
        bool flushed = Flush();
        fd_ = -1;
        if (close(fd) != 0 || !flushed) return false;
        committed_ = rename(name_.c_str(), target.c_str()) == 0;
        return committed_;
    }

  private:
    bool Flush() {
        bool written = WriteOut(std::string_view(block_.get(), pending_));
        pending_ = 0;
        return written;
    }

    bool WriteOut(std::string_view data) {
        while (!data.empty()) {
            ssize_t count = write(fd_, data.data(), data.size());
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) return false;
            data.remove_prefix(static_cast<std::size_t>(count));
        }
        return true;
    }

    std::unique_ptr<char[]> block_ = std::make_unique<char[]>(WriteBlockSize);
    std::size_t pending_ = 0;
    std::string name_;
    int fd_ = -1;
    bool created_ = false;
    bool committed_ = false;
};

class Connection {
  public:
    explicit Connection(std::optional<NetConnection> opened) : connection_(opened) {}
    ~Connection() {
        if (connection_) NetClose(*connection_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool IsOpen() const { return connection_.has_value(); }
    NetConnection& Get() { return *connection_; }

  private:
    std::optional<NetConnection> connection_;
};

// Receives until the header block is complete; rest then holds what the last
// receive brought of the body.
bool ReceiveHead(NetConnection& connection, HeadReader& reader, char* buffer,
                 std::string_view& rest) {
    for (;;) {
        int64_t count = NetReceive(connection, buffer, ReadBufferSize, CurrentLimits.receive);
        if (count <= 0) return false;
        rest = std::string_view(buffer, static_cast<std::size_t>(count));
        ReadStep step = reader.Feed(rest);
        if (step != ReadStep::NeedMore) return step == ReadStep::Done;
    }
}

bool IsAcceptable(const ResponseHead& head) {
    return (head.status_code == 200 || head.status_code == 302) && !head.length_invalid;
}

bool ReceiveBody(NetConnection& connection, BodyReader body, std::string_view input, char* buffer,
                 TempFile& file) {
    for (;;) {
        std::string_view data;
        ReadStep step = body.Next(input, data);
        if (step == ReadStep::Data) {
            if (!file.Write(data)) return false;
            continue;
        }
        if (step != ReadStep::NeedMore) return step == ReadStep::Done;
        int64_t count = NetReceive(connection, buffer, ReadBufferSize, CurrentLimits.receive);
        if (count == 0) return body.CompleteAtClose();
        if (count < 0) return false;
        input = std::string_view(buffer, static_cast<std::size_t>(count));
    }
}

}  // namespace

void SetFetchLimitsForTests(const FetchLimits& limits) {
    CurrentLimits = limits;
}

std::optional<HttpRequestPlan> PlanHttpRequest(std::string_view url) {
    std::optional<std::string> host = HttpUrlField(url, HttpField::Host);
    if (!host) return std::nullopt;
    for (char c : *host) {
        if (IsUnsafeByte(static_cast<unsigned char>(c))) return std::nullopt;
    }
    std::optional<std::string> port_text = HttpUrlField(url, HttpField::Port);
    HttpRequestPlan plan{*host, port_text ? PortNumberOf(*port_text) : 80, "GET /"};
    AppendEscaped(plan.request, HttpUrlField(url, HttpField::PathWithQuery).value_or(""));
    plan.request += " HTTP/1.1\r\nAccept: */*\r\nHost: " + plan.host;
    if (plan.port != 80) {
        plan.request += ':';
        plan.request += std::to_string(plan.port);
    }
    plan.request += "\r\nConnection: close\r\n\r\n";
    return plan;
}

int FetchHttpFile(std::string_view url, std::string_view path) {
    std::optional<HttpRequestPlan> plan = PlanHttpRequest(url);
    if (!plan) return 0;
    std::string target(path.substr(0, path.find('\0')));
    std::optional<std::string> directory = TargetDirectory(target);
    if (!directory) return 0;

    Connection connection(NetOpen(plan->host, plan->port, CurrentLimits.connect));
    if (!connection.IsOpen()) return 0;
    const std::string& request = plan->request;
    if (!NetSendAll(connection.Get(), request.data(), request.size(), CurrentLimits.send)) {
        return 0;
    }
    char buffer[ReadBufferSize];
    HeadReader head;
    std::string_view rest;
    if (!ReceiveHead(connection.Get(), head, buffer, rest) || !IsAcceptable(head.Head())) return 0;

    TempFile file(*directory);
    if (!file.IsOpen()) return 0;
    if (!ReceiveBody(connection.Get(), BodyReader(head.Head()), rest, buffer, file)) return 0;
    return file.Commit(target) ? 1 : 0;
}
