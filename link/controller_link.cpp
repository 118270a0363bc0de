#include "controller_link.hpp"

#include <algorithm>

namespace ktnet {

namespace {

constexpr std::size_t report_frame_offset = 2;
constexpr std::size_t report_frame_bytes = report_size - report_frame_offset;  // 253

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

ControllerLink::ControllerLink(HidPort& port, std::ostream& console)
    : port_(port), console_(console) {}

bool ControllerLink::find_controller() {
    auto list = port_.list_interfaces();
    if (!list) {
        console_ << message_no_hid_list;
        return false;
    }
    controller_.reset();
    for (unsigned index = 0; index < interface_tries; ++index) {
        switch (list->lookup(index)) {
            case HidInterfaceList::Lookup::absent:
                continue;
            case HidInterfaceList::Lookup::no_system_name:
                console_ << message_no_system_name;
                return false;
            case HidInterfaceList::Lookup::present:
                break;
        }
        auto device = list->open(index);
        if (!device) {
            console_ << message_other_device;
            continue;
        }
        const auto product = device->product_string();
        if (product && is_controller_product(*product)) {
            console_ << message_controller_found;
            controller_ = std::move(device);
            break;
        }
    }
    return controller_ != nullptr;
}

std::optional<std::uint8_t> ControllerLink::exchange(
    std::uint8_t route, std::span<const std::uint8_t, frame_buffer_size> escaped,
    std::span<std::uint8_t, frame_buffer_size> answer) {
    fill_output_report(route, escaped, output_);
    std::fill(input_.begin() + report_frame_offset, input_.end(), ' ');

    if (!controller_ || !controller_->write_report(output_)) return std::nullopt;
    if (!controller_->read_report(input_)) return std::nullopt;

    std::copy_n(input_.begin() + report_frame_offset, report_frame_bytes, answer.begin());
    return input_[1];
}

void send_opening_frame(ControllerLink& link, std::span<std::uint8_t, frame_buffer_size> raw,
                        std::span<std::uint8_t, frame_buffer_size> escaped,
                        std::span<std::uint8_t, frame_buffer_size> answer) {
    build_opening_frame(raw);
    checksum(short_frame_length, raw);
    escape(short_frame_length, raw, escaped);
    link.exchange(route_opening, escaped, answer);
}

}  // namespace ktnet
