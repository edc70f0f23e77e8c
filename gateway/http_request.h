#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// HTTP/1.1 requests and responses as bytes: no socket, no Qt. The server frames its
// connections with these, and the fuzzer feeds them whatever it likes.
namespace gateway {

struct HttpRequest {
    std::string method;  // "GET", as sent
    std::string path;    // the target up to "?", still percent-encoded
    std::string query;   // after "?", without it
    // Field names in lower case, values without surrounding blanks, in the order sent.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string peer;  // "192.0.2.7:50112"

    // The first field of that name (lower case), or nullptr.
    const std::string* header(std::string_view name) const;
};

struct HttpResponse {
    int status = 200;
    std::string contentType;  // empty with an empty body
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // besides the length and type
    bool headOnly = false;  // HEAD: the fields of the body, not the body
};

// What may come in one request; beyond it the request is refused with 431 or 413.
struct HttpLimits {
    std::size_t maxHeadBytes = 16 * 1024;  // request line and header fields
    std::size_t maxHeaderFields = 64;
    std::size_t maxBodyBytes = 64 * 1024;
};

// The head of a request read from the start of the bytes received.
struct RequestHead {
    enum class State { Incomplete, Complete, Bad };
    State state = State::Incomplete;
    HttpRequest request;          // Complete: all but the body and the peer
    std::size_t headBytes = 0;    // Complete: bytes up to and including the empty line
    std::size_t bodyBytes = 0;    // Complete: the Content-Length
    bool keepAlive = true;        // Complete: the connection may carry another request
    bool expectContinue = false;  // Complete: the client waits for 100 Continue
    int status = 0;               // Bad: 400, 411, 413, 431, 501 or 505
    std::string error;            // Bad: why, for the client
};

// Reads a request's head as HTTP/1.1 frames it (RFC 9112), strictly: origin-form targets,
// header fields without folding, the body's length by Content-Length alone. Empty lines
// before the request line are skipped. Pure: no socket, no state.
RequestHead parseRequestHead(std::string_view bytes, const HttpLimits& limits = {});

// Whether a comma-separated field value ("keep-alive, Upgrade") holds `word`, in any case.
bool fieldListHas(std::string_view value, std::string_view word);

// The reason phrase of a status code.
std::string_view reasonPhrase(int status);

// The bytes of a response: status line, Content-Length, Content-Type, the given fields,
// Connection: close when `close`, then the body.
std::string responseBytes(const HttpResponse& response, bool close);

}  // namespace gateway
