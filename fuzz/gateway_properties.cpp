// Properties of the gateway's framing and of PJLink's line parser that hold for whatever a
// client sends. A violation aborts with a message. Used by the fuzzer and by the replay of the
// inputs it once found (and of a few chosen ones) in the tests.

#include "fuzz/gateway_properties.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/line_framer.h"
#include "gateway/pjlink_protocol.h"

namespace {

namespace pjlink = gateway::pjlink;

void check(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "gateway_fuzz: property violated: %s\n", property);
    std::abort();
}

struct Framed {
    std::vector<gateway::LineFramer::Line> lines;
    bool overflowing = false;
    std::size_t partial = 0;

    bool operator==(const Framed& other) const {
        return overflowing == other.overflowing && partial == other.partial &&
               std::ranges::equal(lines, other.lines, [](const auto& a, const auto& b) {
                   return a.text == b.text && a.overlong == b.overlong;
               });
    }
};

// The input whole, or in pieces whose sizes (1 to 8) come from the input's own bytes, so that
// a carriage return falls on a piece boundary wherever the fuzzer wants it to; the lines are
// taken after each piece, as a connection does.
Framed frame(std::string_view input, std::size_t bound, bool inPieces) {
    gateway::LineFramer framer(bound);
    Framed out;
    std::size_t at = 0;
    while (at < input.size()) {
        const std::size_t piece =
            inPieces ? 1 + static_cast<unsigned char>(input[at]) % 8 : input.size();
        framer.feed(input.substr(at, piece));
        at += piece;
        while (auto line = framer.next()) out.lines.push_back(std::move(*line));
    }
    out.overflowing = framer.overflowing();
    out.partial = framer.partialBytes();
    return out;
}

void checkFraming(std::string_view input, std::size_t bound) {
    const Framed whole = frame(input, bound, false);
    check(frame(input, bound, true) == whole, "pieces give the same lines as one piece");
    check(whole.lines.size() == std::size_t(std::ranges::count(input, '\r')),
          "one line per carriage return");
    check(whole.partial <= bound, "a partial line is kept only up to the bound");
    // Line by line, the input again: each line is its bytes up to its carriage return, cut at
    // the bound when longer, and only then overlong.
    std::string_view rest = input;
    for (const auto& line : whole.lines) {
        const std::size_t cr = rest.find('\r');
        const std::string_view original = rest.substr(0, cr);
        check(line.overlong == (original.size() > bound), "overlong exactly when over the bound");
        check(line.text == original.substr(0, bound), "a line is what came, up to the bound");
        rest.remove_prefix(cr + 1);
    }
    check(whole.overflowing == (rest.size() > bound), "overflowing exactly when over the bound");
    check(whole.partial == std::min(rest.size(), bound), "the partial line is what came after");
}

bool printable(std::string_view text) {
    return std::ranges::all_of(text, [](char c) { return c > ' ' && c < 0x7f; });
}

// One answer line: one carriage return, at its end, and no line feed.
bool oneLine(std::string_view answer) {
    return !answer.empty() && answer.back() == '\r' && std::ranges::count(answer, '\r') == 1 &&
           std::ranges::count(answer, '\n') == 0;
}

void checkPjlinkLine(std::string_view line) {
    const pjlink::Digested digested = pjlink::splitDigest(line);
    if (digested.digest) {
        check(digested.digest->size() == pjlink::kDigestChars && digested.command.front() == '%',
              "a digest is 32 characters right before a command");
    }
    const pjlink::Parsed parsed = pjlink::parseLine(digested.command);
    std::string_view command = digested.command;
    while (!command.empty() && command.front() == '\n') command.remove_prefix(1);
    switch (parsed.kind) {
        case pjlink::Parsed::Kind::Empty:
            check(command.empty(), "only a line of nothing is empty");
            break;
        case pjlink::Parsed::Kind::Foreign:
            check(!command.empty(), "a foreign line holds something");
            break;
        case pjlink::Parsed::Kind::Command:
            check(parsed.header.size() == 6 && parsed.header.starts_with("%1") &&
                      printable(parsed.header),
                  "a command's header is %1 and four printable characters");
            check(parsed.body == parsed.header.substr(2), "the body is the header's");
            check(
                !parsed.parameter.empty() && parsed.parameter.size() <= pjlink::kMaxParameterBytes,
                "a parameter is 1 to 128 bytes");
            check(parsed.header + " " + parsed.parameter == command, "a command is what came");
            check(command.size() + 1 <= pjlink::kMaxCommandBytes, "a command is at most 136 bytes");
            check(oneLine(pjlink::answerLine(parsed.header, parsed.parameter)),
                  "an answer is one line");
            break;
        case pjlink::Parsed::Kind::Invalid:
            check(parsed.header.size() >= 2 && parsed.header.size() <= 6 &&
                      parsed.header.front() == '%' && printable(parsed.header) &&
                      command.starts_with(parsed.header),
                  "an invalid line is answered under the header it came with");
            check(oneLine(pjlink::answerLine(parsed.header, parsed.error)), "an error is one line");
            break;
    }
}

}  // namespace

void checkGatewayProperties(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The framer is the same at every bound: a small one from the input's first byte reaches
    // every edge of it; PJLink's is the one its lines are cut at.
    checkFraming(input, size == 0 ? 1 : 1 + static_cast<unsigned char>(input[0]) % 64);
    checkFraming(input, pjlink::kMaxLineBytes);

    gateway::LineFramer framer(pjlink::kMaxLineBytes);
    framer.feed(input);
    while (auto line = framer.next()) checkPjlinkLine(line->text);
}
