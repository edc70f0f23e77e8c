#include "gateway/line_framer.h"

#include <utility>

namespace gateway {

void LineFramer::feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t cr = bytes.find('\r');
        const std::string_view piece = bytes.substr(0, cr);
        if (!overlong_) {
            const std::size_t room = bound_ - partial_.size();
            partial_.append(piece.substr(0, room));
            overlong_ = piece.size() > room;
        }
        if (cr == std::string_view::npos) return;
        lines_.push_back(Line{std::exchange(partial_, {}), overlong_});
        overlong_ = false;
        bytes.remove_prefix(cr + 1);
    }
}

std::optional<LineFramer::Line> LineFramer::next() {
    if (lines_.empty()) return std::nullopt;
    Line line = std::move(lines_.front());
    lines_.pop_front();
    return line;
}

}  // namespace gateway
