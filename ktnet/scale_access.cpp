#include "scale_access.hpp"

#include <fmt/format.h>

#include <CLI/CLI.hpp>

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

std::unique_ptr<Connection> Connection::open(ShopEnvironment& env,
                                             std::chrono::milliseconds timeout, std::string& error,
                                             int& status) {
    auto port = env.open_port();
    auto stop_signal = env.context.stop_signal;
    auto session = std::make_unique<Session>(
        *port, SessionOptions{timeout, [stop_signal] { return stop_signal() != 0; }});
    std::string unopened;
    const Discovery found = session->find_controller([&](const DiscoveryEvent& event) {
        if (event.kind == DiscoveryEvent::Kind::device_not_opened ||
            event.kind == DiscoveryEvent::Kind::no_system_name ||
            event.kind == DiscoveryEvent::Kind::no_hid_list) {
            unopened += fmt::format("; {}: {}", event.path.empty() ? "HID list" : event.path,
                                    event.error.message);
        }
    });
    if (found.result == Discovery::Result::held) {
        error =
            "the KT-NET controller is held by another run (ktnet, rdk or ldk); nothing was sent";
        status = ktnet_status::controller_held;
        return nullptr;
    }
    if (found.result == Discovery::Result::none) {
        error = fmt::format("no KT-NET controller found ({} HID device{} looked at{})",
                            found.devices_seen, found.devices_seen == 1 ? "" : "s", unopened);
        status = 2;
        return nullptr;
    }
    // The opening frame's answer carries nothing the scales' work needs.
    (void)session->open_conversation();
    return std::unique_ptr<Connection>(
        new Connection(std::move(port), std::move(session), std::move(stop_signal)));
}

RangeRead read_range(Connection& connection, const ScaleAddress& scale, std::uint32_t first,
                     std::uint32_t last, const std::function<void(std::size_t)>& step) {
    RangeRead result;
    result.records.reserve(last - first + 1);
    for (std::uint32_t plu = first; plu <= last; ++plu) {
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

std::string describe_failure(const Answer& answer) {
    std::string text = std::string(describe(answer.fault));
    if (!answer.error.message.empty()) text += fmt::format(" ({})", answer.error.message);
    return text;
}

}  // namespace ktnet
