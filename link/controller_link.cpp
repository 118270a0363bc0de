#include "controller_link.hpp"

#include <algorithm>

namespace ktnet {

namespace {

constexpr std::size_t report_frame_offset = 2;
constexpr std::size_t report_frame_bytes = report_size - report_frame_offset;  // 253

using Clock = std::chrono::steady_clock;

}  // namespace

bool is_controller_product(std::wstring_view product) {
    if (product.size() < expected_product.size()) return false;
    for (std::size_t i = 0; i < expected_product.size(); ++i) {
        if (static_cast<std::uint8_t>(product[i] & 0xFF) !=
            static_cast<std::uint8_t>(expected_product[i])) {
            return false;
        }
    }
    return true;
}

void fill_output_report(std::uint8_t route,
                        std::span<const std::uint8_t, frame_buffer_size> escaped, Report& report) {
    report[0] = 0;
    report[1] = route;
    std::copy_n(escaped.begin(), report_frame_bytes, report.begin() + report_frame_offset);
}

ControllerLink::ControllerLink(HidPort& port, std::chrono::milliseconds timeout,
                               std::function<bool()> stop_requested)
    : port_(port), timeout_(timeout), stop_requested_(std::move(stop_requested)) {}

Discovery ControllerLink::find_controller(const DiscoveryObserver& observer) {
    using Kind = DiscoveryEvent::Kind;
    Discovery discovery;
    controller_.reset();
    unanswered_ = false;
    auto list = port_.list_interfaces();
    if (!list) {
        observer({Kind::no_hid_list, 0, {}, list.error()});
        return discovery;
    }
    for (unsigned index = 0; index < interface_tries; ++index) {
        const auto found = (*list)->lookup(index);
        if (found.kind == HidInterfaceList::Lookup::Kind::absent) continue;
        ++discovery.devices_seen;
        if (found.kind == HidInterfaceList::Lookup::Kind::no_system_name) {
            observer({Kind::no_system_name, index, found.path, found.error});
            return discovery;
        }
        auto device = (*list)->open(index);
        if (!device) {
            observer({Kind::device_not_opened, index, found.path, device.error()});
            continue;
        }
        const auto product = (*device)->product_string();
        if (!product || !is_controller_product(*product)) continue;
        // The first controller is the one; if another run holds it, this run has none.
        if (auto claimed = (*device)->claim(); !claimed) {
            observer({Kind::controller_held, index, found.path, claimed.error()});
            discovery.result = Discovery::Result::held;
            return discovery;
        }
        observer({Kind::controller_found, index, found.path, {}});
        controller_ = std::move(*device);
        discovery.result = Discovery::Result::found;
        return discovery;
    }
    return discovery;
}

Exchange ControllerLink::exchange(std::uint8_t route,
                                  std::span<const std::uint8_t, frame_buffer_size> escaped,
                                  std::span<std::uint8_t, frame_buffer_size> answer) {
    fill_output_report(route, escaped, output_);
    if (!controller_) return {Exchange::Kind::no_controller, 0, {}};
    if (unanswered_) {
        if (auto ended = drop_late_answer()) return *ended;
    }
    std::fill(input_.begin() + report_frame_offset, input_.end(), ' ');

    // Whatever waits now answered something else (a stray copy, a late answer, another
    // program's traffic): this request's answer can only come after it is sent.
    if (auto discarded = controller_->discard_pending(); !discarded) {
        return {Exchange::Kind::read_failed, 0, discarded.error()};
    }
    if (auto written = controller_->write_report(output_); !written) {
        return {Exchange::Kind::write_failed, 0, written.error()};
    }
    // A stop request is honoured once the answer has had stop_check_interval to come: an
    // answer on its way is still taken (and its record filed), a wait that drags on ends.
    const auto sent = Clock::now();
    const auto deadline = sent + timeout_;
    for (;;) {
        const auto now = Clock::now();
        if (now - sent >= stop_check_interval && stop_requested_()) {
            unanswered_ = true;
            return {Exchange::Kind::interrupted, 0, {}};
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        const auto read = controller_->read_report(
            input_, std::clamp(left, std::chrono::milliseconds(0), stop_check_interval));
        if (!read) {
            if (stop_requested_()) continue;  // a signal broke the wait
            return {Exchange::Kind::read_failed, 0, read.error()};
        }
        if (*read == ReadOutcome::received) break;
        if (Clock::now() >= deadline) {
            unanswered_ = true;
            return {Exchange::Kind::timed_out, 0, {}};
        }
    }
    std::copy_n(input_.begin() + report_frame_offset, report_frame_bytes, answer.begin());
    return {Exchange::Kind::answered, input_[1], {}};
}

// A late answer read after the next request would pass for that request's answer (the same
// scale's acknowledgement, or even the same PLU of another scale): it gets one more time-out
// to come before anything else is sent. A stop request is honoured at once here, as the
// answer waited for is of no use.
std::optional<Exchange> ControllerLink::drop_late_answer() {
    const auto deadline = Clock::now() + timeout_;
    for (;;) {
        if (stop_requested_()) return Exchange{Exchange::Kind::interrupted, 0, {}};
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds(0)) break;
        const auto read = controller_->read_report(input_, std::min(left, stop_check_interval));
        if (!read) {
            if (stop_requested_()) return Exchange{Exchange::Kind::interrupted, 0, {}};
            return Exchange{Exchange::Kind::read_failed, 0, read.error()};
        }
        if (*read == ReadOutcome::received) break;
    }
    unanswered_ = false;
    return std::nullopt;
}

}  // namespace ktnet
