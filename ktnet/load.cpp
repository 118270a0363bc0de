#include "load.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>

#include "cli/exit_status.hpp"
#include "load_log.hpp"
#include "plu/line_check.hpp"
#include "plu/plu_line.hpp"
#include "plu_files.hpp"
#include "progress.hpp"
#include "record_fields.hpp"
#include "shop_file.hpp"

namespace ktnet {

namespace {

using Clock = std::chrono::steady_clock;

struct Selected {
    std::size_t line;  // counted from 1
    RecordFrame record{};
    std::uint32_t plu = 0;
};

struct ScaleResult {
    ScaleAddress address;
    std::size_t to_send = 0;
    std::size_t done = 0;  // stored (and verified) in this run
    double seconds = 0;
    std::string result = "ok";
    bool ok = true;
};

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

std::string local_time(std::chrono::system_clock::time_point t, const char* format) {
    return fmt::format(fmt::runtime(format),
                       fmt::localtime(std::chrono::system_clock::to_time_t(t)));
}

// The lines the options choose, each checked; problems are reported on err.
std::optional<std::vector<Selected>> select_lines(const LoadOptions& options,
                                                  const std::vector<std::string>& lines,
                                                  std::ostream& err, int& status) {
    std::size_t first = 1, last = lines.size();
    if (!options.lines.empty()) {
        const auto range = parse_number_range(options.lines, 1, 0xFFFFFFFFu);
        if (!range || range->last > lines.size()) {
            err << fmt::format(
                "ktnet load: --lines {}: not a rising range A-B within the {} "
                "lines of {}\n",
                options.lines, lines.size(), options.file);
            status = ktnet_status::trouble;
            return std::nullopt;
        }
        first = range->first;
        last = range->last;
    }
    NumberSet plus;
    if (!options.plu.empty()) {
        plus = parse_number_set(options.plu, 0, 999999);
        if (!plus.error.empty()) {
            err << "ktnet load: --plu: " << plus.error << '\n';
            status = ktnet_status::trouble;
            return std::nullopt;
        }
    }
    std::vector<Selected> chosen;
    std::size_t problems = 0;
    for (std::size_t n = first; n <= last; ++n) {
        const std::string& text = lines[n - 1];
        if (const auto problem = find_line_refusal(text)) {
            // A line with a problem is reported whatever --plu says: its PLU cannot be trusted.
            err << fmt::format("ktnet load: {}:{}: {}\n", options.file, n, *problem);
            ++problems;
            continue;
        }
        Selected s{n};
        (void)parse_line(text, s.record);
        s.plu = record_plu(s.record);
        if (!options.plu.empty() && !plus.contains(s.plu)) continue;
        chosen.push_back(s);
    }
    if (problems > 0) {
        err << fmt::format(
            "ktnet load: nothing sent: {} line{} break{} the rules (ktnet check tells more)\n",
            problems, problems == 1 ? "" : "s", problems == 1 ? "s" : "");
        status = ktnet_status::problems;
        return std::nullopt;
    }
    if (chosen.empty()) {
        err << "ktnet load: the selection holds no line\n";
        status = ktnet_status::trouble;
        return std::nullopt;
    }
    return chosen;
}

// Asks on the terminal; false, with the status, when nothing is to be sent.
bool confirmed(const LoadOptions& options, ShopEnvironment& env, std::ostream& err, int& status) {
    if (options.yes) return true;
    if (!env.input_is_terminal) {
        err << "ktnet load: nothing sent: standard input is not a terminal to ask on; add --yes "
               "to send without asking\n";
        status = ktnet_status::trouble;
        return false;
    }
    err << "Send? [y/N] " << std::flush;
    const auto answer = env.read_answer();
    if (answer && (*answer == "y" || *answer == "Y" || *answer == "yes" || *answer == "YES"))
        return true;
    err << "ktnet load: nothing sent\n";
    status = ktnet_status::problems;
    return false;
}

}  // namespace

int run_load(const LoadOptions& options, ShopEnvironment& env, std::ostream& out,
             std::ostream& err) {
    const auto fail = [&err](const std::string& why) {
        err << "ktnet load: " << why << '\n';
        return ktnet_status::trouble;
    };
    if (!options.lines.empty() && !options.plu.empty())
        return fail("choose lines with --lines or with --plu, not both");
    const ShopLoad shop = load_shop(options.device.shop);
    if (!shop.shop) return fail(shop.error);
    const ScaleSelection targets = select_scales(options.to, *shop.shop);
    if (!targets.error.empty()) return fail(fmt::format("--to: {}", targets.error));
    const auto lines = read_plu_lines(options.file);
    if (!lines) return fail(fmt::format("cannot read {}: {}", options.file, lines.error().reason));

    int status = ktnet_status::success;
    const auto selected = select_lines(options, *lines, err, status);
    if (!selected) return status;

    // What an earlier run already did.
    std::vector<LogEntry> carried;
    std::set<LogKey> done_before;
    if (!options.resume.empty()) {
        const auto resume_path = path_of(options.resume);
        if (!resume_path) return fail(fmt::format("--resume {}: not a file name", options.resume));
        LogRead earlier = read_done_entries(*resume_path);
        if (!earlier.error.empty()) return fail(earlier.error);
        for (LogEntry& e : earlier.done) {
            if (done_before.insert(key_of(e)).second) carried.push_back(std::move(e));
        }
    }
    std::vector<std::vector<const Selected*>> plan;
    std::size_t to_send = 0;
    for (const ScaleAddress& scale : targets.scales) {
        plan.emplace_back();
        for (const Selected& s : *selected) {
            if (!done_before.contains({scale.text(), s.line, s.plu})) plan.back().push_back(&s);
        }
        to_send += plan.back().size();
    }
    std::string names;
    for (const ScaleAddress& scale : targets.scales)
        names += fmt::format("{}{}", names.empty() ? "" : ", ", shop.shop->label(scale));
    err << fmt::format(
        "ktnet load: {} record{} of {} to {} scale{} ({}){}{}\n", to_send, to_send == 1 ? "" : "s",
        options.file, targets.scales.size(), targets.scales.size() == 1 ? "" : "s", names,
        options.resume.empty()
            ? ""
            : fmt::format("; {} already done by {}",
                          selected->size() * targets.scales.size() - to_send, options.resume),
        options.verify ? ", each read back" : "");
    if (to_send == 0) {
        err << "ktnet load: nothing left to send\n";
        return ktnet_status::success;
    }
    if (!confirmed(options, env, err, status)) return status;

    auto connection = Connection::open(env, options.device, "ktnet load", err, status);
    if (!connection) return status;
    std::string error;
    auto log = LogWriter::create(options.log, local_time(env.now(), "{:%Y%m%d-%H%M%S}"), error);
    if (!log) return fail(error + "; nothing sent");
    for (const LogEntry& e : carried) {
        if (!log->write(e))
            return fail(fmt::format("cannot write {}; nothing sent", log->path().string()));
    }

    const NameDisplay names_of;
    LogClock log_clock(env);
    std::vector<ScaleResult> results;
    Progress progress(err, env.error_is_terminal, "ktnet load");
    Session& session = connection->session();
    int stopped = 0;
    bool log_failed = false;
    for (std::size_t k = 0; k < targets.scales.size() && stopped == 0 && !log_failed; ++k) {
        const ScaleAddress& scale = targets.scales[k];
        ScaleResult r{scale, plan[k].size()};
        progress.start(shop.shop->label(scale), r.to_send);
        const auto started = Clock::now();
        for (const Selected* s : plan[k]) {
            if ((stopped = connection->stop_signal()) != 0) break;
            LogEntry entry{{}, scale.text(), s->line, s->plu, names_of.of(s->record)};
            Answer answer;
            while (entry.attempts < store_attempts) {
                ++entry.attempts;
                answer = session.store_record(scale, s->record);
                if (answer.accepted() || answer.verdict == Answer::Verdict::interrupted) break;
            }
            if (answer.verdict == Answer::Verdict::interrupted) {
                stopped = connection->stop_signal();
                break;
            }
            std::string failure;
            if (!answer.accepted()) {
                entry.result = answer.verdict == Answer::Verdict::refused ? "refused" : "no_answer";
                failure = fmt::format("line {} (PLU {}) not taken after {} attempts: {}", s->line,
                                      s->plu, entry.attempts, describe_failure(answer));
            } else if (options.verify) {
                const RecordAnswer back = session.read_record(scale, s->plu);
                if (back.answer.verdict == Answer::Verdict::interrupted) {
                    // Stored, but the run must end before its read-back.
                    stopped = connection->stop_signal();
                    entry.result = "ok";
                } else if (!back.answer.accepted()) {
                    entry.result = "verify_failed";
                    failure = fmt::format("line {} (PLU {}) stored, but its read-back failed: {}",
                                          s->line, s->plu, describe_failure(back.answer));
                } else if (const auto fields = differing_fields(back.record, s->record);
                           !fields.empty()) {
                    entry.result = "mismatch";
                    for (const std::size_t f : fields) entry.fields.push_back(field_name(f));
                    failure = fmt::format("line {} (PLU {}) reads back different: {}", s->line,
                                          s->plu, fmt::join(entry.fields, ", "));
                } else {
                    entry.result = "verified";
                }
            } else {
                entry.result = "ok";
            }
            entry.time = log_clock.now();
            if (!log->write(entry)) {
                log_failed = true;
                r.ok = false;
                r.result = fmt::format("cannot write the log {}", log->path().string());
                break;
            }
            if (stopped != 0) break;
            if (!failure.empty()) {
                r.ok = false;
                r.result = failure;
                break;
            }
            ++r.done;
            progress.step(r.done);
        }
        r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        if (stopped != 0) {
            r.ok = false;
            r.result = "stopped by a signal";
        }
        progress.finish(r.result);
        results.push_back(r);
    }
    status =
        stopped != 0 ? exit_status::stopped_by(stopped)
        : log_failed ? ktnet_status::trouble
        : std::all_of(results.begin(), results.end(), [](const ScaleResult& r) { return r.ok; }) &&
                results.size() == targets.scales.size()
            ? ktnet_status::success
            : ktnet_status::problems;

    if (options.device.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const ScaleResult& r : results) {
            list.push_back({{"address", r.address.text()},
                            {"name", shop.shop->name_of(r.address)},
                            {"to_send", r.to_send},
                            {"done", r.done},
                            {"seconds", r.seconds},
                            {"ok", r.ok},
                            {"result", r.result}});
        }
        const nlohmann::json doc = {
            {"scales", list}, {"log", log->path().string()}, {"status", status}};
        out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return status;
    }
    out << fmt::format("{:<6}{:<16}{:>8}{:>8}{:>10}  {}\n", "scale", "name", "records", "done",
                       "time", "result");
    for (const ScaleResult& r : results) {
        out << fmt::format("{:<6}{:<16}{:>8}{:>8}{:>10}  {}\n", r.address.text(),
                           shop.shop->name_of(r.address), r.to_send, r.done,
                           Progress::duration_text(std::chrono::duration<double>(r.seconds)),
                           r.result);
    }
    out << "log: " << log->path().string() << '\n';
    return status;
}

void add_load(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<LoadOptions>();
    CLI::App* sub = app.add_subcommand(
        "load",
        "Send the records of a PLU file to one scale after another. Every selected line is "
        "checked first, and nothing is sent if one breaks the rules. Each record sent gets a "
        "line in the run's log (JSON lines: time, scale, line, plu, name, result, attempts).");
    sub->add_option("FILE", options->file, "the PLU file")->required();
    sub->add_option("--to", options->to,
                    "scales: 1S1, a name from the shop file, 1S1,2T3, 1S1-9, or all")
        ->required();
    auto* lines = sub->add_option("--lines", options->lines, "only lines A-B (counted from 1)");
    sub->add_option("--plu", options->plu, "only the lines of these PLUs: 1-50,77")
        ->excludes(lines);
    sub->add_flag("--verify", options->verify,
                  "read every record back once, right after storing it, and compare");
    sub->add_flag("-y,--yes", options->yes,
                  "send without asking (needed when standard input is not a terminal)");
    sub->add_option("--resume", options->resume,
                    "the log of an earlier run: send only what it does not show as done");
    sub->add_option("--log", options->log,
                    "the result log (default: ktnet-load-YYYYMMDD-HHMMSS.jsonl here)");
    add_device_options(*sub, options->device, true);
    sub->footer(fmt::format(
        "A record the scale does not take is sent {} times in all; then the scale is failed and "
        "the next goes on. Exit status: 0 every record is on every scale, 1 a line breaks the "
        "rules (nothing sent), the question was answered no, or a scale failed, 2 a bad "
        "command line, an unreadable file, no terminal to ask on without --yes, or no "
        "controller, 5 the controller is held by another run, 128+N stopped by signal N.",
        store_attempts));
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](std::ostream& out, std::ostream& err) {
            return run_load(*options, env, out, err);
        };
    });
}

}  // namespace ktnet
