#include "page_jobs.hpp"

#include <fmt/format.h>

#include <csignal>
#include <sstream>

#include "base/text.hpp"
#include "shop/job_events.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string command_of(const std::vector<std::string>& words) {
    std::string text = "ktnet";
    for (const std::string& w : words)
        text += w.find(' ') == std::string::npos ? join({" ", w}) : join({" \"", w, "\""});
    return text;
}

}  // namespace

RunSaid run_and_keep(const RunWords& run, const std::vector<std::string>& words,
                     ShopEnvironment& env, JobObserver* watcher) {
    std::ostringstream out, err;
    RunSaid said;
    said.status = run(words, env, out, err, watcher);
    said.messages = lines_of(err.str());
    said.document = nlohmann::json::parse(out.str(), nullptr, false);
    if (said.document.is_discarded()) said.document = nullptr;
    return said;
}

// The job's events, into the page's view of it.
class PageJobs::Watcher : public JobObserver {
public:
    explicit Watcher(PageJobs& jobs) : jobs_(jobs) {}

    void scale_started(const ScaleAddress& scale, std::size_t total) override {
        update(scale, [&](ScaleProgress& p) {
            p.state = "running";
            p.total = total;
            p.done = 0;
            p.started = std::chrono::steady_clock::now();
        });
    }
    void record_done(const ScaleAddress& scale, std::size_t done, const RecordEvent&) override {
        update(scale, [&](ScaleProgress& p) { p.done = done; });
    }
    void scale_done(const ScaleAddress& scale, const ScaleOutcome& outcome) override {
        update(scale, [&](ScaleProgress& p) {
            p.done = outcome.done;
            p.state = outcome.ok ? "done" : outcome.result == "stopped" ? "stopped" : "failed";
            p.result = outcome.result;
        });
    }

private:
    template <class F>
    void update(const ScaleAddress& scale, F change) {
        std::lock_guard lock(jobs_.mutex_);
        if (!jobs_.job_) return;
        auto& scales = jobs_.job_->scales;
        auto it = std::find_if(scales.begin(), scales.end(),
                               [&](const ScaleProgress& p) { return p.address == scale; });
        if (it == scales.end()) {
            scales.push_back({scale, jobs_.label_(scale), 0, 0});
            it = scales.end() - 1;
        }
        change(*it);
        jobs_.changed();
    }

    PageJobs& jobs_;
};

PageJobs::PageJobs(RunWords run, ShopEnvironment env,
                   std::function<std::string(const ScaleAddress&)> label)
    : run_(std::move(run)), env_(std::move(env)), label_(std::move(label)) {
    env_.input_is_terminal = false;
    env_.error_is_terminal = false;
    env_.origin = "page";
    program_stop_ = env_.context.stop_signal;
    env_.context.stop_signal = [stop = stop_, program_stop = program_stop_] {
        return stop->load() ? SIGINT : program_stop();
    };
}

PageJobs::~PageJobs() {
    stop();
    if (thread_.joinable()) thread_.join();
}

void PageJobs::changed() {
    ++version_;
    change_.notify_all();
}

Result<nlohmann::json, std::string> PageJobs::start(PageJobStart start) {
    std::unique_lock lock(mutex_);
    if (running_)
        return unexpected(fmt::format("the {} job {} is still running: stop it or wait for it",
                                      job_->kind, job_->id));
    if (thread_.joinable()) thread_.join();
    stop_->store(false);
    Job job;
    job.id = next_id_++;
    job.kind = start.kind;
    job.command = command_of(start.words);
    job.started = store_time(env_.now());
    for (const ScaleAddress& s : start.scales) job.scales.push_back({s, label_(s), 0, 0});
    job_ = std::move(job);
    running_ = true;
    changed();
    const nlohmann::json shown = json_of(*job_);
    thread_ = std::thread([this, words = std::move(start.words)] {
        ShopEnvironment env = env_;
        env.command_line = command_of(words).substr(std::string("ktnet ").size());
        Watcher watcher(*this);
        RunSaid said = run_and_keep(run_, words, env, &watcher);
        std::lock_guard done(mutex_);
        Job& j = *job_;
        j.status = said.status;
        j.messages = std::move(said.messages);
        j.document = std::move(said.document);
        j.ended = store_time(env_.now());
        const bool stopped = said.status >= 128 || j.stop_requested;
        j.state = said.status == 0 ? "done" : stopped ? "stopped" : "failed";
        for (ScaleProgress& p : j.scales) {
            if (p.state != "waiting" && p.state != "running") continue;
            if (said.status == 0) {  // a run that succeeded had nothing to do on this scale
                p.state = "done";
                if (p.result.empty()) p.result = "ok";
                continue;
            }
            if (p.result.empty()) p.result = p.state == "waiting" ? "not started" : "stopped";
            p.state = stopped ? "stopped" : "failed";
        }
        running_ = false;
        changed();
    });
    return shown;
}

Result<RunSaid, std::string> PageJobs::run_now(const std::vector<std::string>& words) {
    {
        std::lock_guard lock(mutex_);
        if (running_)
            return unexpected(fmt::format("the {} job {} is still running: wait for it first",
                                          job_->kind, job_->id));
    }
    return look(words);
}

RunSaid PageJobs::look(const std::vector<std::string>& words) const {
    ShopEnvironment env = env_;
    env.context.stop_signal = program_stop_;  // the stop button is the job's, not a read's
    env.command_line = command_of(words).substr(std::string("ktnet ").size());
    return run_and_keep(run_, words, env);
}

void PageJobs::stop() {
    std::lock_guard lock(mutex_);
    if (!running_) return;
    stop_->store(true);
    job_->stop_requested = true;
    changed();
}

nlohmann::json PageJobs::json_of(const Job& job) {
    nlohmann::json scales = nlohmann::json::array();
    const auto now = std::chrono::steady_clock::now();
    for (const ScaleProgress& p : job.scales) {
        nlohmann::json left = nullptr;
        if (p.state == "running" && p.done > 0 && p.total > p.done) {
            const double elapsed = std::chrono::duration<double>(now - p.started).count();
            left = static_cast<long long>(elapsed / static_cast<double>(p.done) *
                                              static_cast<double>(p.total - p.done) +
                                          0.5);
        }
        scales.push_back(
            {{"address", p.address.text()},
             {"label", p.label},
             {"done", p.done},
             {"total", p.total},
             {"percent", p.total == 0 ? (p.state == "done" ? 100 : 0) : p.done * 100 / p.total},
             {"seconds_left", left},
             {"state", p.state},
             {"result", p.result}});
    }
    return {{"id", job.id},
            {"kind", job.kind},
            {"command", job.command},
            {"state", job.state},
            {"started", job.started},
            {"ended", job.ended},
            {"scales", scales},
            {"status", job.status ? nlohmann::json(*job.status) : nlohmann::json(nullptr)},
            {"messages", job.messages},
            {"document", job.document},
            {"stop_requested", job.stop_requested}};
}

nlohmann::json PageJobs::current() const {
    std::lock_guard lock(mutex_);
    return job_ ? json_of(*job_) : nlohmann::json(nullptr);
}

bool PageJobs::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::uint64_t PageJobs::version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

void PageJobs::wait_for_change(std::uint64_t seen, std::chrono::milliseconds at_most) const {
    std::unique_lock lock(mutex_);
    change_.wait_for(lock, at_most, [&] { return version_ != seen; });
}

}  // namespace ktnet
