#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// The HTTP port's route table and the bodies its requests take: Qt Core only, so that the
// fuzzer reaches them without sockets.
namespace gateway {

enum class Access {
    Open,   // the page's own files and the metrics
    Token,  // everything that reads or changes a projector
};

struct Route {
    std::string_view method;
    std::string_view pattern;  // segments; {x} takes one segment
    Access access;
};

// Every route, in the order of HttpFront's handlers.
std::span<const Route> routes();
// The route of the page's live events (a WebSocket).
inline constexpr int kEventsRoute = 11;

// What a request's path and method name, from the route table: the route's index, the
// percent-decoded values of its {placeholders}, and for a path no route of that method has,
// the methods that would do (405) or none at all (404).
struct RouteMatch {
    int route = -1;
    std::vector<std::string> values;
    std::string allow;  // "GET, HEAD" when the path is known but not with this method
};
RouteMatch matchRoute(std::string_view method, std::string_view path);

// The body of POST .../press/BUTTON: empty or {"times": N}; and of POST .../send:
// {"code": "CR0"}. Each gives the value or why the body is refused (400).
struct Parsed {
    int times = 1;
    std::string code;
    std::string error;  // empty when the body is sound
};
Parsed pressBody(std::string_view body);
Parsed sendBody(std::string_view body);

}  // namespace gateway
