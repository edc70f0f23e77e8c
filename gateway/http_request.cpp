#include "gateway/http_request.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace gateway {

namespace {

bool isTokenCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view s) {
    return !s.empty() && std::ranges::all_of(s, isTokenCharacter);
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return out;
}

std::string_view withoutBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

bool fieldListHas(std::string_view value, std::string_view word) {
    while (!value.empty()) {
        const std::size_t comma = std::min(value.find(','), value.size());
        if (lower(withoutBlanks(value.substr(0, comma))) == word) return true;
        value.remove_prefix(std::min(comma + 1, value.size()));
    }
    return false;
}

namespace {

RequestHead bad(int status, std::string error) {
    RequestHead head;
    head.state = RequestHead::State::Bad;
    head.status = status;
    head.error = std::move(error);
    return head;
}

}  // namespace

const std::string* HttpRequest::header(std::string_view name) const {
    for (const auto& [field, value] : headers) {
        if (field == name) return &value;
    }
    return nullptr;
}

RequestHead parseRequestHead(std::string_view bytes, const HttpLimits& limits) {
    std::size_t start = 0;
    while (start < bytes.size() && (bytes[start] == '\r' || bytes[start] == '\n')) ++start;
    const std::string_view rest = bytes.substr(start);
    // The head ends at an empty line; a line ends at LF, with or without CR before it.
    std::size_t end = std::string_view::npos, headEnd = 0;
    for (std::size_t at = rest.find('\n'); at != std::string_view::npos;
         at = rest.find('\n', at + 1)) {
        if (at + 1 < rest.size() && rest[at + 1] == '\n') {
            end = at + 1, headEnd = at + 2;
            break;
        }
        if (at + 2 < rest.size() && rest[at + 1] == '\r' && rest[at + 2] == '\n') {
            end = at + 1, headEnd = at + 3;
            break;
        }
        if (at > limits.maxHeadBytes) break;
    }
    // Blank lines before the request line count against the bound too.
    if (end == std::string_view::npos || start + end > limits.maxHeadBytes) {
        if (bytes.size() > limits.maxHeadBytes || end != std::string_view::npos) {
            return bad(431, "the request line and header fields exceed " +
                                std::to_string(limits.maxHeadBytes) + " bytes");
        }
        return {};
    }

    std::vector<std::string_view> lines;
    for (std::string_view head = rest.substr(0, end); !head.empty();) {
        const std::size_t lf = head.find('\n');
        std::string_view line = head.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        head.remove_prefix(lf + 1);
    }
    RequestHead parsed;
    HttpRequest& request = parsed.request;

    // METHOD SP TARGET SP HTTP/1.x
    const std::string_view requestLine = lines.front();
    const std::size_t sp1 = requestLine.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : requestLine.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || requestLine.find(' ', sp2 + 1) != std::string_view::npos)
        return bad(400, "the request line is not METHOD TARGET HTTP/1.1");
    const std::string_view method = requestLine.substr(0, sp1);
    const std::string_view target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = requestLine.substr(sp2 + 1);
    if (!isToken(method)) return bad(400, "the request line is not METHOD TARGET HTTP/1.1");
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        return version.starts_with("HTTP/")
                   ? bad(505, "only HTTP/1.1 and HTTP/1.0 are spoken here")
                   : bad(400, "the request line is not METHOD TARGET HTTP/1.1");
    }
    if (target.empty() || target.front() != '/' ||
        std::ranges::any_of(target, [](char c) { return c <= ' ' || c == 0x7f || c == '#'; })) {
        return bad(400, "the target is not a path (/api/v1/projectors)");
    }
    request.method = std::string(method);
    const std::size_t question = target.find('?');
    request.path = std::string(target.substr(0, question));
    if (question != std::string_view::npos)
        request.query = std::string(target.substr(question + 1));

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !isToken(line.substr(0, colon)))
            return bad(400, "a header field is not NAME: VALUE (folded lines are not taken)");
        const std::string_view value = withoutBlanks(line.substr(colon + 1));
        if (std::ranges::any_of(value, [](char c) { return (c < ' ' && c != '\t') || c == 0x7f; }))
            return bad(400, "a header field holds a control character");
        if (request.headers.size() == limits.maxHeaderFields)
            return bad(431,
                       "more than " + std::to_string(limits.maxHeaderFields) + " header fields");
        request.headers.emplace_back(lower(line.substr(0, colon)), std::string(value));
    }

    if (request.header("transfer-encoding"))
        return bad(411, "a body is taken with Content-Length only, not Transfer-Encoding");
    const std::string* length = nullptr;
    for (const auto& [field, value] : request.headers) {
        if (field != "content-length") continue;
        if (length && *length != value) return bad(400, "two different Content-Length fields");
        length = &value;
    }
    if (length) {
        std::uint64_t n = 0;
        const auto [ptr, error] =
            std::from_chars(length->data(), length->data() + length->size(), n);
        if (length->empty() || error == std::errc::invalid_argument ||
            ptr != length->data() + length->size() ||
            !std::ranges::all_of(*length, [](char c) { return c >= '0' && c <= '9'; })) {
            return bad(400, "Content-Length is not a number of bytes");
        }
        if (error == std::errc::result_out_of_range || n > limits.maxBodyBytes)
            return bad(413, "the body exceeds " + std::to_string(limits.maxBodyBytes) + " bytes");
        parsed.bodyBytes = std::size_t(n);
    }
    const bool http10 = version == "HTTP/1.0";
    if (!http10 && !request.header("host")) return bad(400, "no Host field");
    const std::string* connection = request.header("connection");
    parsed.keepAlive = http10 ? connection && fieldListHas(*connection, "keep-alive")
                              : !(connection && fieldListHas(*connection, "close"));
    if (const std::string* expect = request.header("expect")) {
        if (lower(*expect) != "100-continue") return bad(417, "only Expect: 100-continue is met");
        parsed.expectContinue = parsed.bodyBytes > 0;
    }
    parsed.state = RequestHead::State::Complete;
    parsed.headBytes = start + headEnd;
    return parsed;
}

std::string_view reasonPhrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 101:
            return "Switching Protocols";
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Content Too Large";
        case 415:
            return "Unsupported Media Type";
        case 417:
            return "Expectation Failed";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        case 505:
            return "HTTP Version Not Supported";
        default:
            return "Unknown";
    }
}

std::string responseBytes(const HttpResponse& response, bool close) {
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                      std::string(reasonPhrase(response.status)) + "\r\n";
    out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    if (!response.contentType.empty()) out += "Content-Type: " + response.contentType + "\r\n";
    for (const auto& [field, value] : response.headers) out += field + ": " + value + "\r\n";
    if (close) out += "Connection: close\r\n";
    out += "\r\n";
    if (!response.headOnly) out += response.body;
    return out;
}

}  // namespace gateway
