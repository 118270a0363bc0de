#include "shop/load_plan.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "base/limits.hpp"
#include "cli/replaced_file.hpp"
#include "formats/file_kind.hpp"
#include "formats/json_text.hpp"
#include "formats/plu_files.hpp"
#include "plu/file_check.hpp"
#include "plu/line_check.hpp"
#include "plu/plu_line.hpp"
#include "shop/load_log.hpp"

namespace ktnet {

namespace {

constexpr std::size_t requestable_plus = highest_request_plu + 1;
constexpr std::size_t not_planned = static_cast<std::size_t>(-1);
constexpr std::size_t longest_log_chain = 1000;

// A refusal's problems, each of a line of the file.
class Problems : public RefusalList {
public:
    explicit Problems(std::string file) : file_(std::move(file)) {}
    using RefusalList::add;
    void add(std::size_t line, const std::string& message) {
        add(fmt::format("{}:{}: {}", file_, line, message));
    }

private:
    std::string file_;
};

PlanRefusal trouble(std::string message) {
    return {2, {std::move(message)}, 0};
}

// The scale columns 0-8 of a line name ("1 S 01 xx"), when they name one.
std::optional<ScaleAddress> scale_of_line(std::string_view line) {
    if (line.size() < 6 || line[1] != ' ' || line[3] != ' ' || line[4] != '0') return std::nullopt;
    return ScaleAddress::make(static_cast<unsigned>(line[0] - '0'), line[2],
                              static_cast<unsigned>(line[5] - '0'));
}

struct Marks {
    enum State : std::uint8_t { none, read_back, done };
    std::vector<std::vector<State>> by_scale;  // [scale][record]
};

// The logs from the oldest on: each log's header names the one it went on from.
Result<std::vector<std::filesystem::path>, PlanRefusal> log_chain(
    const std::filesystem::path& newest) {
    std::vector<std::filesystem::path> chain{newest};
    for (;;) {
        LogHeader header;
        const auto read = read_log(chain.back(), [](const LogEntry&) {});
        if (!read) {
            return unexpected(trouble(fmt::format("--resume: cannot read {}: {}",
                                                  chain.back().string(), read.error().reason)));
        }
        if (read->header.resumes.empty()) break;
        const std::filesystem::path earlier = read->header.resumes;
        for (const auto& seen : chain) {
            if (same_file(seen, earlier))
                return unexpected(trouble(
                    fmt::format("--resume: the logs go on from each other in a circle at {}",
                                earlier.string())));
        }
        if (chain.size() == longest_log_chain)
            return unexpected(trouble("--resume: the logs go on from each other too long"));
        chain.push_back(earlier);
    }
    std::reverse(chain.begin(), chain.end());
    return chain;
}

// Marks what the logs show as done: for each scale and PLU, the newest entry whose record is
// the very record of this file (its digest) decides.
Result<Marks, PlanRefusal> read_resume(const LoadRequest& request, const LoadPlan& plan) {
    const std::filesystem::path newest = request.resume;
    auto chain = log_chain(newest);
    if (!chain) return unexpected(std::move(chain.error()));

    std::vector<std::size_t> record_of_plu(requestable_plus, not_planned);
    for (std::size_t r = 0; r < plan.records.size(); ++r) record_of_plu[plan.records[r].plu] = r;
    Marks marks;
    marks.by_scale.assign(request.targets.size(),
                          std::vector<Marks::State>(plan.records.size(), Marks::none));
    std::size_t entries = 0, matching = 0;
    LogHeader newest_header;
    for (const auto& path : *chain) {
        const auto read = read_log(path, [&](const LogEntry& e) {
            ++entries;
            const auto scale = ScaleAddress::parse(e.scale);
            const auto it = scale
                                ? std::find(request.targets.begin(), request.targets.end(), *scale)
                                : request.targets.end();
            if (it == request.targets.end() || e.plu >= requestable_plus) return;
            const std::size_t r = record_of_plu[e.plu];
            if (r == not_planned || plan.records[r].digest != e.digest) return;
            ++matching;
            Marks::State& state =
                marks.by_scale[static_cast<std::size_t>(it - request.targets.begin())][r];
            if (e.verified()) {
                state = Marks::done;
            } else if (e.stored()) {
                state = request.verify ? Marks::read_back : Marks::done;
            } else if (e.result == "mismatch") {
                state = Marks::none;  // the scale holds something else now
            } else if (e.result == "verify_failed") {
                state = request.verify ? Marks::read_back : Marks::done;
            }
            // A refusal or no answer leaves the scale as it was.
        });
        if (!read) {
            return unexpected(trouble(
                fmt::format("--resume: cannot read {}: {}", path.string(), read.error().reason)));
        }
        newest_header = read->header;
    }
    for (const ScaleAddress& target : request.targets) {
        const auto& made_for = newest_header.scales;
        if (std::find(made_for.begin(), made_for.end(), target.text()) == made_for.end()) {
            return unexpected(PlanRefusal{
                2,
                {fmt::format("--resume: {} was made for the scales {}, and {} is not among them "
                             "(start a load of its own for it)",
                             newest.string(), fmt::join(made_for, ","), target.text())},
                0});
        }
    }
    if (entries > 0 && matching == 0) {
        return unexpected(PlanRefusal{
            2,
            {fmt::format("--resume: none of the {} records {} names is a record of {}: it is the "
                         "log of another file, or the file changed since",
                         entries, newest.string(), request.file)},
            0});
    }
    return marks;
}

}  // namespace

std::size_t LoadPlan::to_send() const {
    std::size_t n = 0;
    for (const ScalePlan& s : scales) n += s.send.size();
    return n;
}

std::size_t LoadPlan::to_read_back() const {
    std::size_t n = 0;
    for (const ScalePlan& s : scales) n += s.read_back.size();
    return n;
}

Result<LoadPlan, PlanRefusal> plan_load(const LoadRequest& request) {
    LoadPlan plan;
    const std::string shown = printable(request.file);
    Problems problems(shown);
    PluFileChecker checker(request.rules, [&](Finding&& f) {
        if (f.is_problem()) problems.add(f.line, f.message);
    });
    std::string first_line;
    const auto read = read_plu_file(request.file, [&](std::size_t n, std::string_view line) {
        if (n == 1) first_line = line;
        checker.line(line);
        if (request.lines && (n < request.lines->first || n > request.lines->last)) return true;
        // A file with a problem is refused whole: what it holds no longer matters, and a file of
        // many lines must not fill the memory.
        if (problems.count() > 0 || find_line_refusal(line)) return true;
        PlannedRecord p{n, 0, {}, 0};
        (void)parse_line_as_written(line, p.record);
        p.plu = record_plu(p.record);
        p.digest = record_digest(p.record);
        if (request.plus && !request.plus->contains(p.plu)) return true;
        if (const auto scale = scale_of_line(line)) {
            const std::string text = scale->text();
            auto& seen = plan.file_scales;
            if (std::find(seen.begin(), seen.end(), text) == seen.end()) seen.push_back(text);
        }
        if (plan.records.size() < requestable_plus) plan.records.push_back(p);
        return true;
    });
    if (!read)
        return unexpected(trouble(fmt::format("cannot read {}: {}", shown, read.error().reason)));
    if (read->not_plu_line) {
        checker.end({});
        problems.add(fmt::format("{}: {}", shown, describe_not_plu_line(*read->not_plu_line)));
    } else {
        checker.end({read->end.at_mark, read->end.mid_line, read->end.bytes_after});
    }
    if (request.lines && request.lines->last > read->lines) {
        return unexpected(
            trouble(fmt::format("--lines {}-{}: not within the {} lines of {}",
                                request.lines->first, request.lines->last, read->lines, shown)));
    }
    if (problems.count() > 0) {
        const std::size_t total = problems.count();
        PlanRefusal refusal = problems.take(1);
        if (const auto looks = what_it_looks_like(first_line))
            refusal.hint = fmt::format("{}: {}", shown, *looks);
        refusal.summary = fmt::format("nothing sent: {} problem{} in {} (ktnet check tells more)",
                                      total, total == 1 ? "" : "s", shown);
        return unexpected(std::move(refusal));
    }
    if (plan.records.empty()) return unexpected(trouble("the selection holds no line"));

    std::optional<Marks> marks;
    if (!request.resume.empty()) {
        auto resumed = read_resume(request, plan);
        if (!resumed) return unexpected(std::move(resumed.error()));
        marks = std::move(*resumed);
        std::error_code ec;
        const auto full = std::filesystem::absolute(request.resume, ec);
        plan.resumes = ec ? std::filesystem::path(request.resume) : full;
    }
    for (std::size_t s = 0; s < request.targets.size(); ++s) {
        ScalePlan scale{request.targets[s]};
        const auto known_it = request.known.find(scale.scale);
        const KnownState* known = known_it == request.known.end() ? nullptr : &known_it->second;
        if (known) {
            scale.basis_backup = known->latest_backup;
            scale.basis_change = known->latest_change;
        }
        scale.byte36.assign(plan.records.size(), 0);
        for (std::size_t r = 0; r < plan.records.size(); ++r) {
            const PlannedRecord& p = plan.records[r];
            std::optional<StoredRecord> held;
            if (known) {
                if (const auto it = known->records.find(p.plu); it != known->records.end())
                    held = it->second;
            }
            if (held) {
                scale.byte36[r] = (*held)[unused_frame_byte - payload_index];
            } else {
                ++scale.byte36_unknown;
            }
            const Marks::State state = marks ? marks->by_scale[s][r] : Marks::none;
            if (state == Marks::done) {
                ++scale.done_before;
                continue;
            }
            if (state == Marks::read_back) {
                scale.read_back.push_back(r);
                continue;
            }
            if (request.changed && held) {
                RecordFrame sent = p.record;
                sent[unused_frame_byte] = scale.byte36[r];
                if (stored_of(sent) == *held) {
                    ++scale.unchanged;
                    continue;
                }
            }
            scale.send.push_back(r);
        }
        plan.scales.push_back(std::move(scale));
    }
    return plan;
}

}  // namespace ktnet
