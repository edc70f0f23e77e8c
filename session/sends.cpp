#include "session/sends.h"

#include <stdexcept>

#include "engine/status.h"
#include "tables/buttons.h"

namespace session {

Send codeSend(std::string code, std::optional<int> windowMs) {
    const int window = windowMs.value_or(panel::replyWindowMs(code));
    return Send{std::move(code), window};
}

std::vector<Send> pressSends(const panel::NamedButton& button, int times,
                             std::optional<int> windowMs) {
    if (times < 1 || (times > 1 && !button.holdKey)) {
        throw std::invalid_argument(button.name + " cannot be pressed " + std::to_string(times) +
                                    " times: a hold key repeats, other buttons send once");
    }
    std::vector<Send> sends;
    sends.reserve(std::size_t(times));
    const int pace = button.holdKey ? panel::repeatPeriodMs(*button.holdKey) : 0;
    for (int i = 0; i < times; ++i) {
        Send send = codeSend(std::string(button.command()), windowMs);
        send.paceMs = i == 0 ? 0 : pace;
        sends.push_back(std::move(send));
    }
    return sends;
}

std::vector<Send> statusSends(std::optional<int> windowMs) {
    std::vector<Send> sends;
    for (const std::string_view query : engine::statusQueries())
        sends.push_back(codeSend(std::string(query), windowMs));
    return sends;
}

}  // namespace session
