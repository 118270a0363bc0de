#include "sending.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <algorithm>

#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "command.hpp"
#include "text_table.hpp"

namespace ktnet {

namespace {

// The local time of each record's log line, formatted once a second.
class LogClock {
public:
    explicit LogClock(ShopEnvironment& env) : env_(env) {}
    const std::string& now() {
        const std::time_t t = std::chrono::system_clock::to_time_t(env_.now());
        if (t != second_) {
            second_ = t;
            text_ = fmt::format("{:%Y-%m-%dT%H:%M:%S}", fmt::localtime(t));
        }
        return text_;
    }

private:
    ShopEnvironment& env_;
    std::time_t second_ = -1;
    std::string text_;
};

int status_of(const LoadJobResult& job, ShopEnvironment& env) {
    if (job.stopped) {
        if (const int signal = env.context.stop_signal()) return exit_status::stopped_by(signal);
    }
    if (job.controller_gone || !job.log_failure.empty() || !job.store_failure.empty())
        return ktnet_status::trouble;
    return job.all_done() ? ktnet_status::success : ktnet_status::problems;
}

}  // namespace

std::string local_time(std::chrono::system_clock::time_point t, const char* format) {
    return fmt::format(fmt::runtime(format),
                       fmt::localtime(std::chrono::system_clock::to_time_t(t)));
}

std::string shell_word(const std::string& word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("-_./,:=@%+").find(c) != std::string_view::npos;
    });
    if (plain) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::optional<int> refused_to_send(bool yes, ShopEnvironment& env, RunOutput& output) {
    if (yes) return std::nullopt;
    if (!env.input_is_terminal) {
        output.error(
            "nothing sent: standard input is not a terminal to ask on; add --yes to send without "
            "asking");
        return ktnet_status::trouble;
    }
    output.err() << "Send? [y/N] " << std::flush;
    const auto answer = env.read_answer();
    if (answer && (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "YES"))
        return std::nullopt;
    output.error("nothing sent");
    return ktnet_status::problems;
}

Result<SendOutcome, int> send_plan(const SendRequest& request, ShopEnvironment& env,
                                   const Shop& shop, ShopStore& store, Connection& connection,
                                   RunOutput& output) {
    auto log = LogWriter::create(request.log_name,
                                 request.log_base + local_time(env.now(), "-{:%Y%m%d-%H%M%S}"),
                                 request.header);
    if (!log) {
        output.error(
            fmt::format("cannot create the log {}: {}; nothing sent",
                        request.log_name.empty() ? request.log_base + "-*.jsonl" : request.log_name,
                        log.error().reason));
        return unexpected(ktnet_status::trouble);
    }
    const auto job_id = store.begin_job(request.kind, env.command_line, env.origin, env.now());
    if (!job_id) return unexpected(output.fail(job_id.error()));
    StoreJournal journal(store, *job_id, env.now);
    LogClock log_clock(env);
    ProgressObserver observer(output.progress(),
                              [&](const ScaleAddress& s) { return shop.label(s); });
    SendOutcome sent{
        run_load_job(request.plan, request.verify,
                     {connection, *log, observer, [&log_clock] { return log_clock.now(); },
                      &journal, request.cause}),
        log->path().string()};
    sent.status = status_of(sent.job, env);
    const LoadJobResult& job = sent.job;
    if (job.controller_gone)
        output.error("the controller went away; the scales after it were not started");
    if (!job.log_failure.empty()) output.error(job.log_failure);
    if (!job.store_failure.empty()) output.error(job.store_failure);
    std::vector<ShopStore::JobScale> ended;
    for (const auto& r : job.scales)
        ended.push_back({r.address, std::string(state_name(r.state)), r.done, r.to_send});
    if (auto done = store.end_job(*job_id, env.now(), std::to_string(sent.status), ended); !done)
        output.error(done.error());
    return sent;
}

void print_sent(const SendOutcome& sent, const Shop& shop, RunOutput& output,
                const std::optional<std::string>& go_on) {
    const LoadJobResult& job = sent.job;
    const bool to_go_on = !job.all_done() && go_on;
    if (output.json()) {
        nlohmann::json list = nlohmann::json::array();
        for (const LoadJobResult::Scale& r : job.scales) {
            list.push_back({{"address", r.address.text()},
                            {"name", shop.name_of(r.address)},
                            {"to_send", r.to_send},
                            {"done", r.done},
                            {"seconds", r.seconds},
                            {"ok", r.state == ScaleState::done},
                            {"state", state_name(r.state)},
                            {"result", r.result}});
        }
        nlohmann::json doc = {{"scales", list}, {"log", sent.log_path}, {"status", sent.status}};
        if (to_go_on) doc["resume"] = *go_on;
        output.document(doc);
        return;
    }
    TextTable table({{"scale"},
                     {"name"},
                     {"records", TextTable::Align::right},
                     {"done", TextTable::Align::right},
                     {"time", TextTable::Align::right},
                     {"result"}});
    for (const LoadJobResult::Scale& r : job.scales) {
        table.add({r.address.text(), shop.name_of(r.address), std::to_string(r.to_send),
                   std::to_string(r.done),
                   r.state == ScaleState::not_started
                       ? std::string("-")
                       : Progress::duration_text(std::chrono::duration<double>(r.seconds)),
                   r.result});
    }
    table.print(output.out());
    output.out() << "log: " << printable(sent.log_path) << '\n';
    if (to_go_on) output.error("to go on: " + *go_on);
}

}  // namespace ktnet
