#include "load.hpp"

#include <fmt/chrono.h>
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <nlohmann/json.hpp>
#include <ostream>

#include "base/limits.hpp"
#include "base/text.hpp"
#include "cli/exit_status.hpp"
#include "cli/replaced_file.hpp"
#include "formats/plu_files.hpp"
#include "sending.hpp"
#include "shop/price_list.hpp"
#include "shop/shop_file.hpp"

namespace ktnet {

namespace {

// The command that goes on with the job: from this run's log, or for a price list, the list
// again with --changed, which leaves out what the store knows reached the scale.
std::string resume_command(const LoadOptions& o, const std::string& log, bool price_list) {
    std::string text = fmt::format("ktnet load {} --to {}", shell_word(o.file), shell_word(o.to));
    if (!o.lines.empty()) text += " --lines " + shell_word(o.lines);
    if (!o.plu.empty()) text += " --plu " + shell_word(o.plu);
    if (o.verify) text += " --verify";
    if (o.changed || price_list) text += " --changed";
    if (o.yes) text += " --yes";
    if (!o.device.shop.empty()) text += " --shop " + shell_word(o.device.shop);
    if (!o.device.store.empty()) text += " --store " + shell_word(o.device.store);
    if (!o.device.fields.empty()) text += " --fields " + shell_word(o.device.fields);
    if (price_list) {
        if (!o.csv.csv_code_page.empty())
            text += " --csv-codepage " + shell_word(o.csv.csv_code_page);
        if (!o.csv.separator.empty()) text += " --sep " + shell_word(o.csv.separator);
        return text;
    }
    return text + " --resume " + shell_word(log);
}

// What a scale plan's knowledge of the scale rests on.
std::string basis_text(const ScalePlan& p) {
    const auto when = [](TimePoint t) {
        return fmt::format("{:%Y-%m-%d %H:%M}",
                           fmt::localtime(std::chrono::system_clock::to_time_t(t)));
    };
    if (!p.basis_backup && !p.basis_change) return "nothing the store knows of " + p.scale.text();
    std::string text = "what " + p.scale.text() + " held";
    if (p.basis_backup) text += " at the backup of " + when(*p.basis_backup);
    if (p.basis_change)
        text += fmt::format("{} the load of {}", p.basis_backup ? " and" : " after",
                            when(*p.basis_change));
    return text;
}

void say_refusal(const PlanRefusal& refusal, RunOutput& output) {
    for (const std::string& m : refusal.messages) output.error(m);
    if (refusal.more > 0) output.error(fmt::format("and {} more", refusal.more));
    if (!refusal.hint.empty()) output.error(refusal.hint);
    if (!refusal.summary.empty()) output.error(refusal.summary);
}

// The request the options make, or why they make none.
Result<LoadRequest, std::string> request_of(const LoadOptions& options, const Shop& shop) {
    if (!options.lines.empty() && !options.plu.empty())
        return unexpected(std::string("choose lines with --lines or with --plu, not both"));
    auto targets = select_scales(options.to, shop);
    if (!targets) return unexpected(fmt::format("--to: {}", targets.error()));
    LoadRequest request{options.file, std::move(*targets)};
    if (!options.lines.empty()) {
        request.lines = parse_number_range(options.lines, 1, 0xFFFFFFFFu);
        if (!request.lines)
            return unexpected(fmt::format("--lines {}: not a rising range A-B", options.lines));
    }
    if (!options.plu.empty()) {
        auto plus = parse_number_set(options.plu, 0, highest_request_plu);
        if (!plus) return unexpected(fmt::format("--plu: {}", plus.error()));
        request.plus = std::move(*plus);
    }
    request.verify = options.verify;
    request.resume = options.resume;
    request.changed = options.changed;
    // The log must never be written over what this run reads.
    if (!options.log.empty()) {
        for (const std::string& input : {options.file, options.resume}) {
            if (!input.empty() && same_file(options.log, input)) {
                return unexpected(
                    fmt::format("--log {} is {}, which this run reads: name another "
                                "log",
                                options.log, input));
            }
        }
    }
    return request;
}

std::string scale_names(const LoadPlan& plan, const Shop& shop) {
    std::string names;
    for (const ScalePlan& s : plan.scales)
        names += fmt::format("{}{}", names.empty() ? "" : ", ", shop.label(s.scale));
    return names;
}

// What the run will do, in one line, and a second when the file names other scales.
void print_plan(const LoadOptions& options, const LoadPlan& plan, const Shop& shop,
                RunOutput& output) {
    const std::size_t to_send = plan.to_send(), to_read = plan.to_read_back();
    std::string done_before;
    if (plan.resumes) {
        std::size_t done = 0;
        for (const ScalePlan& s : plan.scales) done += s.done_before;
        done_before = fmt::format("; {} already done by {}", done, options.resume);
        if (to_read > 0) done_before += fmt::format(", {} stored there to read back", to_read);
    }
    output.note(fmt::format("{} record{} of {} to {} scale{} ({}){}{}", to_send,
                            to_send == 1 ? "" : "s", options.file, plan.scales.size(),
                            plan.scales.size() == 1 ? "" : "s", scale_names(plan, shop),
                            done_before, options.verify ? ", each read back" : ""));
    std::vector<std::string> others;
    for (const std::string& s : plan.file_scales) {
        if (std::none_of(plan.scales.begin(), plan.scales.end(),
                         [&](const ScalePlan& p) { return p.scale.text() == s; }))
            others.push_back(s);
    }
    if (!others.empty()) {
        std::vector<std::string> targets;
        for (const ScalePlan& p : plan.scales) targets.push_back(p.scale.text());
        output.note(fmt::format("the file holds lines of {}; they go into {}",
                                fmt::join(others, ", "), fmt::join(targets, ", ")));
    }
    // What the store's knowledge rests on, per scale.
    for (const ScalePlan& p : plan.scales) {
        const std::size_t selected =
            p.send.size() + p.unchanged + p.done_before + p.read_back.size();
        if (options.changed) {
            output.note(fmt::format("{}: {} of {} differ from {}; sending {}", p.scale.text(),
                                    p.send.size(), selected, basis_text(p), p.send.size()));
        }
        if (p.byte36_unknown > 0) {
            output.note(fmt::format(
                "{}: the store does not know byte 36 of {} of the {} records (it is in no line): "
                "they get 0, as ldk stores it",
                p.scale.text(), p.byte36_unknown, selected));
        }
    }
}

// What a price list's load will do: how the list was read, then per scale what it touches.
void print_price_list_plan(const LoadOptions& options, const PriceListPlan& p, const Shop& shop,
                           RunOutput& output) {
    const std::size_t to_send = p.plan.to_send();
    output.note(fmt::format("{} record{} of {} to {} scale{} ({}){}", to_send,
                            to_send == 1 ? "" : "s", options.file, p.plan.scales.size(),
                            p.plan.scales.size() == 1 ? "" : "s", scale_names(p.plan, shop),
                            options.verify ? ", each read back" : ""));
    for (const ScalePlan& s : p.plan.scales) {
        const std::size_t touched = p.touched.at(s.scale), differ = p.differ.at(s.scale);
        output.note(
            fmt::format("{}: the list touches {} article{}, {} differ{} from {}; sending {}",
                        s.scale.text(), touched, touched == 1 ? "" : "s", differ,
                        differ == 1 ? "s" : "", basis_text(s), s.send.size()));
        if (s.byte36_unknown > 0) {
            output.note(
                fmt::format("{}: the store does not know byte 36 of {} of them: they get "
                            "0, as ldk stores it",
                            s.scale.text(), s.byte36_unknown));
        }
    }
}

// The plan of a price list: each target's records, the list merged onto what the store knows
// it holds; the exit status after the reason was said.
Result<LoadPlan, int> plan_of_price_list(const LoadOptions& options, const Shop& shop,
                                         LoadRequest& request, ShopEnvironment& env,
                                         RunOutput& output) {
    if (!options.resume.empty()) {
        return unexpected(output.fail(
            "--resume goes on from the log of a PLU file's load; a price list goes on when it is "
            "loaded again with --changed, which leaves out what reached the scales"));
    }
    if (request.lines)
        return unexpected(
            output.fail("--lines counts the lines of a PLU file: choose a price "
                        "list's articles with --plu"));
    const auto csv = csv_input(options.csv, output);
    if (!csv) return unexpected(ktnet_status::trouble);
    const auto fields = fields_of(options.device, shop, output);
    if (!fields) return unexpected(ktnet_status::trouble);
    PriceListRequest price_request{
        options.file,
        request.targets,
        std::move(request.known),
        options.changed,
        request.plus,
        {csv->choice(), csv->names, fields->names},
        [&env] { return env.context.stop_signal() == 0; },
        [&](const CsvFileFacts& facts) {
            output.note(fmt::format("{}: {}", options.file, describe(facts)));
        }};
    auto planned = plan_price_list(price_request);
    if (const int signal = env.context.stop_signal())
        return unexpected(exit_status::stopped_by(signal));
    if (!planned) {
        say_refusal(planned.error(), output);
        return unexpected(planned.error().status);
    }
    print_price_list_plan(options, *planned, shop, output);
    return std::move(planned->plan);
}

}  // namespace

int run_load(const LoadOptions& options, ShopEnvironment& env, RunOutput& output) {
    apply(options.device.output, output);
    const auto shop = shop_of(options.device, output);
    if (!shop) return ktnet_status::trouble;
    auto request = request_of(options, *shop);
    if (!request) return output.fail(request.error());
    auto store = open_store(options.device, *shop, output);
    if (!store) return store.error();
    for (const ScaleAddress& target : request->targets) {
        auto known = store->known(target);
        if (!known) return output.fail(known.error());
        request->known.emplace(target, std::move(*known));
    }

    const bool price_list = is_price_list(options.file);
    LoadPlan plan;
    if (price_list) {
        auto planned = plan_of_price_list(options, *shop, *request, env, output);
        if (!planned) return planned.error();
        plan = std::move(*planned);
    } else {
        auto planned = plan_load(*request);
        if (!planned) {
            say_refusal(planned.error(), output);
            return planned.error().status;
        }
        plan = std::move(*planned);
        print_plan(options, plan, *shop, output);
    }
    if (options.dry_run) {
        output.note("nothing sent: --dry-run");
        return ktnet_status::success;
    }
    const bool nothing_left = plan.to_send() + plan.to_read_back() == 0;
    if (!nothing_left) {
        if (const auto refused = refused_to_send(options.yes, env, output)) return *refused;
    }

    std::unique_ptr<Connection> connection;
    if (!nothing_left) {
        auto connected = connect(env, options.device, output);
        if (!connected) return connected.error();
        connection = std::move(*connected);
    }
    LogHeader header{local_time(env.now(), "{:%Y-%m-%dT%H:%M:%S}"),
                     options.file,
                     {},
                     options.verify,
                     plan.resumes ? plan.resumes->string() : std::string()};
    for (const ScalePlan& s : plan.scales) header.scales.push_back(s.scale.text());
    if (nothing_left) {
        // Still a log, so that a resume of this run knows where the job stands.
        auto log = LogWriter::create(options.log,
                                     local_time(env.now(), "ktnet-load-{:%Y%m%d-%H%M%S}"), header);
        if (!log) {
            return output.fail(
                fmt::format("cannot create the log {}: {}", options.log, log.error().reason));
        }
        output.note("nothing left to send; log: " + log->path().string());
        if (output.json()) {
            output.document({{"scales", nlohmann::json::array()},
                             {"log", log->path().string()},
                             {"status", 0}});
        }
        return ktnet_status::success;
    }
    auto sent = send_plan(
        {plan, options.verify, "load", ChangeCause::load, options.log, "ktnet-load", header}, env,
        *shop, *store, *connection, output);
    if (!sent) return sent.error();
    print_sent(*sent, *shop, output, resume_command(options, sent->log_path, price_list));
    return sent->status;
}

void add_load(CLI::App& app, Command& chosen, ShopEnvironment& env) {
    auto options = std::make_shared<LoadOptions>();
    CLI::App* sub = app.add_subcommand(
        "load",
        "Send the records of a PLU file to one scale after another. The whole file is checked "
        "first with the rules of ktnet check, and nothing is sent if it has a problem. Each "
        "record sent gets a line in the run's log (JSON lines: time, scale, line, plu, name, "
        "result, attempts, digest).");
    sub->add_option("FILE", options->file,
                    "the PLU file, or a price list: a CSV (its name ends in .csv, or its header "
                    "starts with plu) merged onto what the store knows each scale holds")
        ->required();
    sub->add_option("--to", options->to,
                    "scales: 1S1, a name from the shop file, 1S1,2T3, 1S1-9, or all")
        ->required();
    auto* lines = sub->add_option("--lines", options->lines, "only lines A-B (counted from 1)");
    sub->add_option("--plu", options->plu, "only the lines of these PLUs: 1-50,77")
        ->excludes(lines);
    sub->add_flag("--dry-run", options->dry_run, "say what would be sent, and send nothing");
    sub->add_flag("--changed", options->changed,
                  "send to each scale only the records that differ from what the shop's store "
                  "knows it holds, and those it does not know");
    sub->add_flag("--verify", options->verify,
                  "read every record back once, right after storing it, and compare every byte");
    sub->add_flag("-y,--yes", options->yes,
                  "send without asking (needed when standard input is not a terminal)");
    sub->add_option("--resume", options->resume,
                    "the log of an earlier run of this file: send only what it does not show as "
                    "done");
    sub->add_option("--log", options->log,
                    "the result log (default: ktnet-load-YYYYMMDD-HHMMSS.jsonl here)");
    add_csv_input_options(*sub, options->csv);
    add_fields_option(*sub, options->device);
    add_device_options(*sub, options->device, true);
    sub->footer(fmt::format(
        "A record the scale does not take is sent {} times in all; then the scale is failed and "
        "the next goes on. Exit status: 0 every record is on every scale, 1 the file breaks the "
        "rules (nothing sent), the question was answered no, or a scale failed, 2 a bad "
        "command line, an unreadable file, no terminal to ask on without --yes, or no "
        "controller, 5 the controller is held by another run, 128+N stopped by signal N.",
        store_attempts));
    sub->callback([options, &chosen, &env] {
        chosen = [options, &env](RunOutput& output) { return run_load(*options, env, output); };
    });
}

}  // namespace ktnet
