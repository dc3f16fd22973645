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

}  // namespace

std::optional<HttpRequestPlan> PlanHttpRequest(std::string_view url) {
    std::optional<HttpScheme> scheme = HttpSchemeOf(url);
    std::optional<std::string> host = HttpUrlField(url, HttpField::Host);
    if (!scheme || !host) return std::nullopt;
    for (char c : *host) {
        if (IsUnsafeByte(static_cast<unsigned char>(c))) return std::nullopt;
    }
    std::optional<int> port = HttpPortOf(url);
    if (!port) return std::nullopt;
    HttpRequestPlan plan;
    plan.secure = *scheme == HttpScheme::Https;
    plan.port = *port;
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
