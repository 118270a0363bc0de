// Progress of the work on one scale after another, on standard error. On a terminal one line
// per scale is updated in place (count/total, percent, records per second, time left); else a
// plain line is written every period and when the scale is done, so logs stay readable.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "shop/job_events.hpp"

namespace ktnet {

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // prefix starts every line ("ktnet backup"). period: between plain lines.
    Progress(std::ostream& err, bool terminal, std::string prefix,
             std::chrono::milliseconds period = std::chrono::seconds(5));

    // Nothing shown at all (--quiet).
    void set_quiet(bool quiet) { quiet_ = quiet; }
    // Who else follows the jobs' events (the shop's page), besides these lines; not owned.
    void set_watcher(JobObserver* watcher) { watcher_ = watcher; }
    JobObserver* watcher() const { return watcher_; }

    void start(std::string label, std::size_t total);
    void step(std::size_t done);
    // Ends the scale's line with its result ("ok", "failed: ...").
    void finish(std::string_view result);

    // "0.4 s", "12 s", "1:05", "1:02:03".
    static std::string duration_text(std::chrono::duration<double> d);

private:
    std::string line() const;
    void show(bool final);

    std::ostream& err_;
    bool terminal_;
    bool quiet_ = false;
    std::string prefix_;
    std::chrono::milliseconds period_;
    std::string label_;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    Clock::time_point started_{};
    Clock::time_point shown_{};
    JobObserver* watcher_ = nullptr;
};

// A job's events as progress lines, each scale under the label it is shown with.
class ProgressObserver : public JobObserver {
public:
    ProgressObserver(Progress& progress, std::function<std::string(const ScaleAddress&)> label)
        : progress_(progress), label_(std::move(label)) {}
    void scale_started(const ScaleAddress& scale, std::size_t total) override {
        progress_.start(label_(scale), total);
        if (auto* w = progress_.watcher()) w->scale_started(scale, total);
    }
    void record_done(const ScaleAddress& scale, std::size_t done,
                     const RecordEvent& event) override {
        progress_.step(done);
        if (auto* w = progress_.watcher()) w->record_done(scale, done, event);
    }
    void scale_done(const ScaleAddress& scale, const ScaleOutcome& outcome) override {
        progress_.finish(outcome.result);
        if (auto* w = progress_.watcher()) w->scale_done(scale, outcome);
    }

private:
    Progress& progress_;
    std::function<std::string(const ScaleAddress&)> label_;
};

}  // namespace ktnet
