// The jobs the shop's page starts: each one a run of ktnet's own subcommand, with the words the
// command line would have, in a thread of its own, one at a time. Its progress per scale is
// followed from the job's events, its diagnostics and JSON document kept for the page, and a
// stop request ends it between two records, as Ctrl+C ends a run of the command line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/result.hpp"
#include "link/scale_address.hpp"
#include "shop/shop_environment.hpp"

namespace ktnet {

class JobObserver;

// Runs ktnet with these words (without the program's name) and returns its exit status;
// watcher follows the events of its jobs.
using RunWords = std::function<int(const std::vector<std::string>& words, ShopEnvironment& env,
                                   std::ostream& out, std::ostream& err, JobObserver* watcher)>;

struct PageJobStart {
    std::string kind;                  // "backup", "load", "restore", "scan"
    std::vector<std::string> words;    // ktnet's words, --json among them
    std::vector<ScaleAddress> scales;  // in the order the job takes them
};

// What a run said: its exit status, its diagnostics line by line, its JSON document.
struct RunSaid {
    int status = 0;
    std::vector<std::string> messages;
    nlohmann::json document;  // null when it wrote none
};
RunSaid run_and_keep(const RunWords& run, const std::vector<std::string>& words,
                     ShopEnvironment& env, JobObserver* watcher = nullptr);

class PageJobs {
public:
    // env: the program's own; each job runs with a copy of it, whose stop request is also the
    // page's stop button. label: how a scale is shown ("1S1 deli").
    PageJobs(RunWords run, ShopEnvironment env,
             std::function<std::string(const ScaleAddress&)> label);
    ~PageJobs();  // stops a running job and waits for it
    PageJobs(const PageJobs&) = delete;
    PageJobs& operator=(const PageJobs&) = delete;

    // The job as the page shows it; the reason when another job of the page still runs.
    [[nodiscard]] Result<nlohmann::json, std::string> start(PageJobStart start);
    // A run that changes nothing (a plan: --dry-run), waited for; refused while a job runs, as
    // the plan might be of a state the job is changing.
    [[nodiscard]] Result<RunSaid, std::string> run_now(const std::vector<std::string>& words);
    // A run that only reads (status, history, check), waited for, beside a running job; with
    // the environment of the page's jobs.
    RunSaid look(const std::vector<std::string>& words) const;
    void stop();
    // The running job, or the last one; null before the first.
    nlohmann::json current() const;
    bool running() const;
    // Grows with every change of the current job: what the page's events follow.
    std::uint64_t version() const;
    // Waits until the version differs from seen, or the time is up.
    void wait_for_change(std::uint64_t seen, std::chrono::milliseconds at_most) const;

    struct ScaleProgress {
        ScaleAddress address;
        std::string label;
        std::size_t done = 0, total = 0;
        std::string state = "waiting";  // running, done, failed, stopped
        std::string result{};
        std::chrono::steady_clock::time_point started{};
    };
    struct Job {
        std::uint64_t id = 0;
        std::string kind, command;
        std::string state = "running";  // done, failed, stopped
        std::string started, ended;
        std::vector<ScaleProgress> scales;
        std::optional<int> status;
        std::vector<std::string> messages;
        nlohmann::json document;
        bool stop_requested = false;
    };

private:
    class Watcher;
    friend class Watcher;
    void changed();  // with mutex_ held
    static nlohmann::json json_of(const Job& job);

    RunWords run_;
    ShopEnvironment env_;                // the jobs': its stop request is also stop_'s
    std::function<int()> program_stop_;  // the program's own stop request
    std::function<std::string(const ScaleAddress&)> label_;
    mutable std::mutex mutex_;
    mutable std::condition_variable change_;
    std::optional<Job> job_;
    std::uint64_t version_ = 0;
    std::uint64_t next_id_ = 1;
    bool running_ = false;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::thread thread_;
};

}  // namespace ktnet
