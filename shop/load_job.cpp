#include "shop/load_job.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>

#include "formats/record_fields.hpp"

namespace ktnet {

namespace {

using Clock = std::chrono::steady_clock;

// The result a log line gives a record that did not reach the scale.
std::string not_taken(const Answer& answer) {
    // Status 5 is the controller's word that the scale did not answer.
    if (answer.verdict == Answer::Verdict::no_answer || answer.fault == AnswerFault::status_5)
        return "no_answer";
    return "refused";
}

// The fields of a read-back that differ from what was stored, every byte counted.
std::vector<std::string> read_back_differences(const RecordFrame& back, const RecordFrame& sent) {
    std::vector<std::string> fields;
    for (const std::size_t f : differing_fields(back, sent)) fields.push_back(field_name(f));
    if (back[unused_frame_byte] != sent[unused_frame_byte]) fields.push_back("byte36");
    return fields;
}

}  // namespace

bool LoadJobResult::all_done() const {
    return std::all_of(scales.begin(), scales.end(),
                       [](const Scale& s) { return s.state == ScaleState::done; });
}

LoadJobResult run_load_job(const LoadPlan& plan, bool verify, const LoadJobContext& c) {
    LoadJobResult job;
    for (const ScalePlan& s : plan.scales)
        job.scales.push_back({s.scale, s.send.size() + s.read_back.size()});
    const NameDisplay names;
    for (std::size_t k = 0; k < plan.scales.size(); ++k) {
        if (job.stopped || job.controller_gone || !job.log_failure.empty() ||
            !job.store_failure.empty())
            break;
        const ScalePlan& sp = plan.scales[k];
        LoadJobResult::Scale& r = job.scales[k];
        if (c.connection.stop_requested()) {
            job.stopped = true;
            break;
        }
        c.observer.scale_started(sp.scale, r.to_send);
        const auto started = Clock::now();
        r.state = ScaleState::done;
        r.result = "ok";
        // Read-backs of what an earlier run stored first, then the records to send.
        std::vector<std::pair<std::size_t, bool>> work;  // record, send it
        std::vector<std::uint32_t> to_send;              // the PLUs sent, in order
        for (const std::size_t i : sp.read_back) work.emplace_back(i, false);
        for (const std::size_t i : sp.send) {
            work.emplace_back(i, true);
            to_send.push_back(plan.records[i].plu);
        }
        std::size_t sent_so_far = 0;
        const auto store_failed = [&](const StoreStatus& status) {
            job.store_failure = status.error();
            r.state = ScaleState::failed;
            r.result = job.store_failure;
        };
        for (const auto& [index, send] : work) {
            if (c.connection.stop_requested()) {
                job.stopped = true;
                break;
            }
            const PlannedRecord& p = plan.records[index];
            // Byte 36, which no line carries, as the store knows the scale holds it.
            RecordFrame record = p.record;
            if (!sp.byte36.empty()) record[unused_frame_byte] = sp.byte36[index];
            LogEntry entry{{}, sp.scale.text(), p.line, p.plu, names.of(record)};
            entry.digest = p.digest;
            std::string failure;
            bool stored = !send;
            std::optional<RecordFrame> read_back;  // what a read-back gave
            if (send && c.journal) {
                const auto upcoming = std::span<const std::uint32_t>(to_send).subspan(sent_so_far);
                if (auto marked = c.journal->before_sending(sp.scale, upcoming); !marked) {
                    store_failed(marked);
                    break;
                }
            }
            if (send) ++sent_so_far;
            if (send) {
                Answer answer;
                while (entry.attempts < store_attempts) {
                    ++entry.attempts;
                    answer = c.connection.session().store_record(sp.scale, record);
                    if (answer.accepted() || answer.verdict == Answer::Verdict::interrupted ||
                        controller_gone(answer))
                        break;
                }
                if (answer.verdict == Answer::Verdict::interrupted) {
                    // Whether the scale took it is not known: it is sent again next time.
                    job.stopped = true;
                    break;
                }
                stored = answer.accepted();
                if (!stored) {
                    entry.result = not_taken(answer);
                    failure =
                        fmt::format("line {} (PLU {}) not taken after {} attempt{}: {}", p.line,
                                    p.plu, entry.attempts, entry.attempts == 1 ? "" : "s",
                                    c.connection.describe(answer));
                    job.controller_gone = controller_gone(answer);
                }
            }
            if (stored && !verify) {
                entry.result = "ok";
                if (c.journal) c.journal->confirmed(sp.scale, stored_of(record), c.cause);
            } else if (stored) {
                const RecordAnswer back = c.connection.session().read_record(sp.scale, p.plu);
                if (back.answer.verdict == Answer::Verdict::interrupted) {
                    // Stored, but the run ends before its read-back: a resumed --verify reads
                    // it back.
                    entry.result = "stored";
                    job.stopped = true;
                    if (c.journal && send)
                        c.journal->confirmed(sp.scale, stored_of(record), c.cause);
                } else if (!back.answer.accepted()) {
                    entry.result = "verify_failed";
                    failure = fmt::format("line {} (PLU {}) stored, but its read-back failed: {}",
                                          p.line, p.plu, c.connection.describe(back.answer));
                    job.controller_gone = controller_gone(back.answer);
                } else {
                    read_back = back.record;
                    entry.fields = read_back_differences(back.record, record);
                    entry.result = entry.fields.empty() ? "verified" : "mismatch";
                    if (!entry.fields.empty()) {
                        failure = fmt::format("line {} (PLU {}) reads back different: {}", p.line,
                                              p.plu, fmt::join(entry.fields, ", "));
                    }
                }
            }
            // A read-back tells what the scale holds, whatever was meant.
            if (c.journal && read_back)
                c.journal->confirmed(sp.scale, stored_of(*read_back), c.cause);
            entry.time = c.now();
            if (auto logged = c.log.write(entry); !logged) {
                job.log_failure = fmt::format("cannot write the log {}: {}", c.log.path().string(),
                                              logged.error().reason);
                r.state = ScaleState::failed;
                r.result = job.log_failure;
                break;
            }
            if (c.journal) {
                if (auto flushed = c.journal->flush_if_due(); !flushed) {
                    store_failed(flushed);
                    break;
                }
            }
            const bool ok = failure.empty() && !job.stopped;
            if (ok) ++r.done;
            c.observer.record_done(sp.scale, r.done, {p.line, p.plu, entry.result, ok});
            if (job.stopped) break;
            if (!failure.empty()) {
                r.state = ScaleState::failed;
                r.result = failure;
                break;
            }
        }
        if (c.journal && job.store_failure.empty()) {
            if (auto flushed = c.journal->flush(); !flushed) store_failed(flushed);
        }
        r.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        if (job.stopped && r.state == ScaleState::done) {
            r.state = ScaleState::stopped;
            r.result = "stopped";
        }
        c.observer.scale_done(
            sp.scale, {r.done, r.to_send, r.state == ScaleState::done, r.result, r.seconds});
    }
    return job;
}

}  // namespace ktnet
