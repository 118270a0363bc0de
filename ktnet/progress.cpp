#include "progress.hpp"

#include <fmt/format.h>

#include <ostream>

namespace ktnet {

namespace {

// How often a terminal line is redrawn: often enough to look alive, rarely enough to cost
// nothing next to an 8 ms exchange.
constexpr std::chrono::milliseconds terminal_period{200};

}  // namespace

Progress::Progress(std::ostream& err, bool terminal, std::string prefix,
                   std::chrono::milliseconds period)
    : err_(err), terminal_(terminal), prefix_(std::move(prefix)), period_(period) {}

std::string Progress::duration_text(std::chrono::duration<double> d) {
    if (d.count() < 10) return fmt::format("{:.1f} s", d.count());
    const auto s = static_cast<long long>(d.count() + 0.5);
    if (s < 60) return fmt::format("{} s", s);
    if (s < 3600) return fmt::format("{}:{:02}", s / 60, s % 60);
    return fmt::format("{}:{:02}:{:02}", s / 3600, s / 60 % 60, s % 60);
}

void Progress::start(std::string label, std::size_t total) {
    label_ = std::move(label);
    total_ = total;
    done_ = 0;
    started_ = shown_ = Clock::now();
    // A log gets its first line only once there is something to say; a terminal shows the
    // scale at once.
    if (terminal_) show(false);
}

std::string Progress::line() const {
    const std::chrono::duration<double> spent = Clock::now() - started_;
    const double rate = spent.count() > 0 ? static_cast<double>(done_) / spent.count() : 0.0;
    const double percent =
        total_ == 0 ? 100.0 : 100.0 * static_cast<double>(done_) / static_cast<double>(total_);
    std::string text = fmt::format("{}: {}: {}/{} {:.0f}% {:.1f} rec/s", prefix_, label_, done_,
                                   total_, percent, rate);
    if (rate > 0 && done_ < total_) {
        const std::chrono::duration<double> left(static_cast<double>(total_ - done_) / rate);
        text += fmt::format(", {} left", duration_text(left));
    }
    return text;
}

void Progress::show(bool final) {
    if (quiet_) return;
    if (terminal_) {
        // Back to the line's start and clear it: the line only ever grows or shrinks in place.
        err_ << "\r\x1b[K" << line();
        if (final) err_ << '\n';
    } else {
        err_ << line() << '\n';
    }
    err_.flush();
}

void Progress::step(std::size_t done) {
    done_ = done;
    const auto now = Clock::now();
    if (now - shown_ < (terminal_ ? terminal_period : period_)) return;
    shown_ = now;
    show(false);
}

void Progress::finish(std::string_view result) {
    const std::chrono::duration<double> spent = Clock::now() - started_;
    if (quiet_) return;
    const std::string text = fmt::format("{}: {}: {}/{} in {}, {}", prefix_, label_, done_, total_,
                                         duration_text(spent), result);
    if (terminal_) err_ << "\r\x1b[K";
    err_ << text << '\n';
    err_.flush();
}

}  // namespace ktnet
