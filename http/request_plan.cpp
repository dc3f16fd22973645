#include "http/request_plan.h"

#include <cstdint>

#include "http/url.h"
#include "runtime/text.h"
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

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%XX" as its byte; a "%" without two hex digits stays as it is.
std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bool escaped = text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                       HexValue(text[i + 2]) >= 0;
        if (escaped) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string Base64(std::string_view bytes) {
    static constexpr char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[(group >> 18) & 63];
        out += digits[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[group & 63] : '=';
    }
    return out;
}

}  // namespace

std::string AuthorizationLine(std::string_view url, std::string_view header) {
    std::string user = UrlPart(url, "/US/");
    std::string password = UrlPart(url, "/PS/");
    if (user.empty() && password.empty()) return {};
    return std::string(header) + ": Basic " +
           Base64(PercentDecoded(user) + ":" + PercentDecoded(password)) + "\r\n";
}

std::string OriginOf(std::string_view url) {
    std::optional<HttpRequestPlan> plan = PlanHttpRequest(url);
    if (!plan) return {};
    return (plan->secure ? "https://" : "http://") + LowerText(plan->host) + ":" +
           std::to_string(plan->port);
}

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
    plan.authority = *host;
    if (plan.port != DefaultPort(*scheme)) {
        plan.authority += ':';
        plan.authority += std::to_string(plan.port);
    }
    plan.request = "GET /";
    AppendEscaped(plan.request, HttpUrlField(url, HttpField::PathWithQuery).value_or(""));
    plan.request += " HTTP/1.1\r\nAccept: */*\r\nHost: ";
    plan.request += plan.authority;
    plan.request += "\r\nUser-Agent: Tavimor/" TAVIMOR_VERSION "\r\nConnection: close\r\n\r\n";
    return plan;
}

void UseAbsoluteForm(HttpRequestPlan& plan) {
    plan.request.insert(4, (plan.secure ? "https://" : "http://") + plan.authority);
}

void AddHeaderLines(HttpRequestPlan& plan, std::string_view lines) {
    plan.request.insert(plan.request.size() - 2, lines);
}
