#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace gateway {

// Cuts what a client sends into lines at each carriage return, as the projector's line
// frames commands. A line longer than the bound is kept only up to the bound and marked
// overlong; the rest of it, up to its carriage return, is dropped, so that whatever a client
// sends, the partial line held here never exceeds the bound. The whole lines not yet taken are
// the caller's to bound: it feeds more only once it has taken them.
class LineFramer {
  public:
    struct Line {
        std::string text;  // without its carriage return; the first `bound` bytes when overlong
        bool overlong = false;
    };

    // `bound`: the most bytes a line may hold, its carriage return not counted.
    explicit LineFramer(std::size_t bound) : bound_(bound) {}

    void feed(std::string_view bytes);
    // The next whole line received, in order.
    std::optional<Line> next();

    // The line being received (no carriage return yet) has gone over the bound.
    bool overflowing() const { return overlong_; }
    // Bytes of the line being received that are kept (at most the bound).
    std::size_t partialBytes() const { return partial_.size(); }
    std::size_t bound() const { return bound_; }

  private:
    std::size_t bound_;
    std::deque<Line> lines_;
    std::string partial_;
    bool overlong_ = false;
};

}  // namespace gateway
