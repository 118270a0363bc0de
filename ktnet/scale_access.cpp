#include "scale_access.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <numeric>

#include "cli/diagnostics.hpp"
#include "cli/exit_status.hpp"
#include "command.hpp"

namespace ktnet {

void add_device_options(CLI::App& sub, DeviceOptions& options, bool json) {
    sub.add_option("--shop", options.shop,
                   "the shop file naming the scales (default: $KTNET_SHOP, else "
                   "~/.config/ktnet/shop; %APPDATA%\\ktnet\\shop.txt on Windows)");
    sub.add_option("--timeout", options.timeout_ms, "how long one answer may take, in milliseconds")
        ->capture_default_str()
        ->check(CLI::Range(100u, 600'000u));
    if (json) sub.add_flag("--json", options.json, "machine-readable output for scripts");
}

std::unique_ptr<Connection> Connection::open(ShopEnvironment& env, const DeviceOptions& device,
                                             std::string_view command, std::ostream& err,
                                             int& status) {
    const auto refuse = [&](const std::string& why, int why_status) {
        err << command << ": " << why << '\n';
        status = why_status;
        return nullptr;
    };
    auto port = env.open_port ? env.open_port() : nullptr;
    if (!port)
        return refuse("no HID port to reach a KT-NET controller through", ktnet_status::trouble);
    // KTNET_TRACE=FILE: every report to and from the controller goes to FILE.
    auto traced = std::make_unique<TraceFromEnvironment>(*port, env.context.diagnose);
    auto stop_signal = env.context.stop_signal;
    auto session = std::make_unique<Session>(
        traced->port(), SessionOptions{std::chrono::milliseconds(device.timeout_ms),
                                       [stop_signal] { return stop_signal() != 0; }});
    DiscoveryLog log;
    const Discovery found =
        session->find_controller([&log](const DiscoveryEvent& event) { log.record(event); });
    if (found.result == Discovery::Result::held)
        return refuse(log.held(), ktnet_status::controller_held);
    if (found.result == Discovery::Result::none)
        return refuse(log.no_controller(found), ktnet_status::trouble);
    // The opening frame's answer carries nothing the scales' work needs.
    (void)session->open_conversation();
    return std::unique_ptr<Connection>(new Connection(std::move(port), std::move(traced),
                                                      std::move(session), std::move(stop_signal)));
}

ScaleRead read_records(Connection& connection, const ScaleAddress& scale,
                       std::span<const std::uint32_t> plus,
                       const std::function<void(std::size_t)>& step) {
    ScaleRead result;
    result.records.reserve(plus.size());
    for (const std::uint32_t plu : plus) {
        // A signal is honoured between records too: a scale that answers every request at once
        // would otherwise keep the run going to the last PLU.
        if (connection.stop_signal() != 0) {
            result.failure.verdict = Answer::Verdict::interrupted;
            result.failure.fault = AnswerFault::interrupted;
            result.failure.plu_asked = plu;
            return result;
        }
        RecordAnswer got = connection.session().read_record(scale, plu);
        if (!got.answer.accepted()) {
            result.failure = got.answer;
            return result;
        }
        result.records.push_back(got.record);
        step(result.records.size());
    }
    result.complete = true;
    return result;
}

std::optional<std::vector<RecordFrame>> read_whole_scale(
    Connection& connection, const ScaleAddress& scale, const std::string& label,
    std::span<const std::uint32_t> plus, Progress& progress, std::string_view command,
    std::ostream& err, int& status) {
    progress.start(label, plus.size());
    ScaleRead read =
        read_records(connection, scale, plus, [&](std::size_t n) { progress.step(n); });
    if (read.complete) {
        progress.finish("read");
        return std::move(read.records);
    }
    progress.finish("failed");
    if (const int signal = connection.stop_signal()) {
        status = exit_status::stopped_by(signal);
    } else {
        err << fmt::format("{}: {}: PLU {}: {}\n", command, label, read.failure.plu_asked,
                           describe_failure(read.failure));
        status = ktnet_status::trouble;
    }
    return std::nullopt;
}

std::vector<std::uint32_t> plu_range(std::uint32_t first, std::uint32_t last) {
    std::vector<std::uint32_t> plus(last - first + 1);
    std::iota(plus.begin(), plus.end(), first);
    return plus;
}

std::string describe_failure(const Answer& answer) {
    std::string text = std::string(describe(answer.fault));
    if (!answer.error.message.empty()) text += fmt::format(" ({})", answer.error.message);
    return text;
}

}  // namespace ktnet
