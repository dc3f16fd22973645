#include "http/request_plan.h"

#include "http/url.h"
#include "tavimor_version.h"

namespace {

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

}  // namespace

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

void AddHeaderLines(HttpRequestPlan& plan, std::string_view lines) {
    plan.request.insert(plan.request.size() - 2, lines);
}
