// Properties of the HTTP port's request framing, routes and bodies that hold for whatever a
// client sends. A violation aborts with a message. Used by the fuzzer and by the replay of the
// inputs it once found (and of a few chosen ones) in the tests.

#include "fuzz/http_properties.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateway/http_request.h"
#include "gateway/http_routes.h"
#include "session/sends.h"

namespace {

void check(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "http_fuzz: property violated: %s\n", property);
    std::abort();
}

// Small bounds, so that the fuzzer reaches them.
constexpr gateway::HttpLimits kLimits{512, 8, 256};

}  // namespace

void checkHttpProperties(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    using State = gateway::RequestHead::State;
    const gateway::RequestHead head = gateway::parseRequestHead(input, kLimits);
    switch (head.state) {
        case State::Incomplete:
            check(input.size() <= kLimits.maxHeadBytes, "a head beyond the bound is still awaited");
            break;
        case State::Bad:
            check(head.status >= 400 && head.status < 600 && !head.error.empty(),
                  "a refusal without status or reason");
            break;
        case State::Complete: {
            check(head.headBytes <= input.size(), "the head ends beyond the bytes");
            check(head.bodyBytes <= kLimits.maxBodyBytes, "a body beyond the bound");
            check(head.request.headers.size() <= kLimits.maxHeaderFields,
                  "header fields beyond the bound");
            check(!head.request.path.empty() && head.request.path.front() == '/',
                  "a target that is no path");
            // No shorter part of it was already a whole head.
            for (std::size_t n = 0; n < head.headBytes; n += 1 + n / 8) {
                check(gateway::parseRequestHead(input.substr(0, n), kLimits).state ==
                          State::Incomplete,
                      "a part of the head is taken for the whole");
            }
            const gateway::RouteMatch match =
                gateway::matchRoute(head.request.method, head.request.path);
            if (match.route >= 0) {
                const std::string_view pattern =
                    gateway::routes()[std::size_t(match.route)].pattern;
                std::size_t placeholders = 0;
                for (char c : pattern) placeholders += c == '{';
                check(match.values.size() == placeholders, "a value per placeholder");
                check(match.allow.empty(), "a route found with methods to allow");
            }
            const std::string_view body = input.substr(head.headBytes);
            const gateway::Parsed press = gateway::pressBody(body);
            check(!press.error.empty() || (press.times >= 1 && press.times <= 100),
                  "times out of its range");
            const gateway::Parsed send = gateway::sendBody(body);
            check(!send.error.empty() || !session::codeProblem(send.code),
                  "a code that cannot be sent");
            break;
        }
    }
}
