#include "gateway/pjlink_protocol.h"

#include <algorithm>

namespace gateway::pjlink {

namespace {

constexpr std::size_t kBodyChars = 4;

bool hexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Printable ASCII without the space: what a header is made of.
bool headerChar(char c) {
    return c > ' ' && c < 0x7f;
}

std::string_view withoutLineFeeds(std::string_view line) {
    while (!line.empty() && line.front() == '\n') line.remove_prefix(1);
    return line;
}

Parsed invalid(std::string_view header, Error error) {
    Parsed p;
    p.kind = Parsed::Kind::Invalid;
    p.header = std::string(header);
    p.error = error;
    return p;
}

}  // namespace

std::string_view errorText(Error error) {
    switch (error) {
        case Error::Undefined:
            return "ERR1";
        case Error::Parameter:
            return "ERR2";
        case Error::Unavailable:
            return "ERR3";
        case Error::Failure:
            break;
    }
    return "ERR4";
}

Parsed parseLine(std::string_view line) {
    line = withoutLineFeeds(line);
    Parsed parsed;
    if (line.empty()) return parsed;
    if (line.front() != '%') {
        parsed.kind = Parsed::Kind::Foreign;
        return parsed;
    }
    // "%", the class and a body of up to four characters, ended early by a space.
    const std::size_t headerEnd = std::min(line.find(' '), 2 + kBodyChars);
    const std::string_view header = line.substr(0, headerEnd);
    if (header.size() < 2 || !std::ranges::all_of(header, headerChar)) {
        parsed.kind = Parsed::Kind::Foreign;
        return parsed;
    }
    if (header[1] != '1' || header.size() < 2 + kBodyChars)
        return invalid(header, Error::Undefined);
    if (line.size() + 1 > kMaxCommandBytes || line.size() <= headerEnd + 1 ||
        line[headerEnd] != ' ') {
        return invalid(header, Error::Parameter);
    }
    parsed.kind = Parsed::Kind::Command;
    parsed.header = std::string(header);
    parsed.body = std::string(header.substr(2));
    parsed.parameter = std::string(line.substr(headerEnd + 1));
    return parsed;
}

Digested splitDigest(std::string_view line) {
    line = withoutLineFeeds(line);
    if (line.size() > kDigestChars && line[kDigestChars] == '%' &&
        std::all_of(line.begin(), line.begin() + kDigestChars, hexDigit)) {
        return {line.substr(0, kDigestChars), line.substr(kDigestChars)};
    }
    return {std::nullopt, line};
}

std::string answerLine(std::string_view header, std::string_view answer) {
    std::string line;
    line.reserve(header.size() + answer.size() + 2);
    line.append(header);
    line += '=';
    // One line whatever the answer holds.
    for (const char c : answer) line += (c == '\r' || c == '\n') ? ' ' : c;
    line += '\r';
    return line;
}

std::string answerLine(std::string_view header, Error error) {
    return answerLine(header, errorText(error));
}

std::string greeting(std::string_view random) {
    return random.empty() ? std::string("PJLINK 0\r") : "PJLINK 1 " + std::string(random) + "\r";
}

bool sameDigest(std::string_view a, std::string_view b) {
    if (a.size() != kDigestChars || b.size() != kDigestChars) return false;
    unsigned differ = 0;
    for (std::size_t i = 0; i < kDigestChars; ++i) {
        const auto lower = [](char c) { return static_cast<unsigned char>(c) | 0x20U; };
        differ |= lower(a[i]) ^ lower(b[i]);
    }
    return differ == 0;
}

}  // namespace gateway::pjlink
