#include "engine/command.h"

namespace engine {

std::string commandText(std::string_view prefix, std::string_view code) {
    std::string text;
    text.reserve(prefix.size() + code.size() + 1);
    text.append(prefix);
    text.append(code);
    text.push_back(kCR);
    return text;
}

}  // namespace engine
