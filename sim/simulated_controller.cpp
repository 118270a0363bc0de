#include "simulated_controller.hpp"

#include <algorithm>

#include "link/little_endian.hpp"

namespace ktnet::sim {

namespace {

constexpr std::size_t report_frame_offset = 2;
constexpr std::uint8_t status_ok = 0;
constexpr std::uint8_t answer_open = command_open | answer_bit;

constexpr std::array<std::pair<FaultKind, std::string_view>, 14> fault_names = {{
    {FaultKind::status5, "status5"},
    {FaultKind::wrong_code, "wrong-code"},
    {FaultKind::short_answer, "short"},
    {FaultKind::garbage, "garbage"},
    {FaultKind::no_terminator, "no-terminator"},
    {FaultKind::failed_write, "write-fails"},
    {FaultKind::failed_read, "read-fails"},
    {FaultKind::unplugged, "unplugged"},
    {FaultKind::latency, "latency"},
    {FaultKind::stray, "stray"},
    {FaultKind::wrong_plu, "wrong-plu"},
    {FaultKind::bad_checksum, "bad-checksum"},
    {FaultKind::stall, "stall"},
    {FaultKind::wrong_address, "wrong-address"},
}};
static_assert(fault_names.size() == all_fault_kinds.size());

bool valid_address(std::uint8_t a) {
    return ScaleAddress::from_route(0, a).has_value();
}

std::string hex(unsigned value) {
    constexpr char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

std::vector<std::uint8_t> frame_head_for(std::uint8_t address, std::uint8_t code) {
    return {frame_head, frame_head, address, 0, code, 1};
}

// The address byte of the next scale of the same kind: 1S9 is followed by 1S1.
std::uint8_t next_scale_address(std::uint8_t address) {
    const auto number = static_cast<std::uint8_t>(address & ~section_bit);
    return static_cast<std::uint8_t>((address & section_bit) | (number % 9 + 1));
}

}  // namespace

std::uint32_t plu_number_of(const RecordBody& body) {
    return read_le24(std::span<const std::uint8_t, 3>(body.data(), 3));
}

RecordBody empty_record(std::uint32_t plu) {
    RecordBody body{};
    write_le24(plu, std::span<std::uint8_t, 3>(body.data(), 3));
    std::fill_n(body.begin() + (name_frame_byte - record_body_offset), name_length, ' ');
    return body;
}

std::optional<FaultKind> fault_kind_from_name(std::string_view name) {
    for (const auto& [kind, n] : fault_names) {
        if (n == name) return kind;
    }
    return std::nullopt;
}

std::string_view fault_kind_name(FaultKind kind) {
    for (const auto& [k, n] : fault_names) {
        if (k == kind) return n;
    }
    return "?";
}

std::optional<Clock::time_point> InputQueue::next_due() const {
    if (entries_.empty()) return std::nullopt;
    return entries_.front().due;
}

std::optional<InputQueue::Entry> InputQueue::take(Clock::time_point now) {
    if (entries_.empty() || entries_.front().due > now) return std::nullopt;
    Entry e = entries_.front();
    entries_.pop_front();
    return e;
}

Scale* SimulatedController::find_scale(ScaleAddress id) {
    const auto it = scales_.find(id);
    return it == scales_.end() ? nullptr : &it->second;
}

std::shared_ptr<InputQueue> SimulatedController::open_queue() {
    auto queue = std::make_shared<InputQueue>();
    std::erase_if(queues_, [](const auto& q) { return q.expired(); });
    queues_.push_back(queue);
    return queue;
}

std::optional<Fault> SimulatedController::fault_now() const {
    const auto it = faults_.find(exchanges_);
    if (it == faults_.end()) return std::nullopt;
    return it->second;
}

void SimulatedController::violation(std::string what) {
    violations_.push_back("exchange " + std::to_string(exchanges_) + ": " + std::move(what));
}

void SimulatedController::deliver(const Report& answer, Clock::time_point due, bool fails,
                                  int copies) {
    for (const auto& weak : queues_) {
        if (const auto queue = weak.lock()) {
            for (int i = 0; i < copies; ++i) queue->entries_.push_back({due, fails, answer});
        }
    }
}

bool SimulatedController::receive(std::span<const std::uint8_t> report) {
    const auto fault = fault_now();
    const std::optional<FaultKind> kind =
        fault ? std::optional<FaultKind>(fault->kind) : std::nullopt;
    if (kind == FaultKind::unplugged) unplugged_ = true;
    if (unplugged_ || kind == FaultKind::failed_write) {
        ++exchanges_;
        return false;
    }
    auto delay = latency_;
    if (kind == FaultKind::latency) delay += fault->delay;
    const auto due = Clock::now() + delay;

    Report answer{};
    const auto frame = check_report(report);
    if (kind == FaultKind::status5 || !frame) {
        answer[1] = status_failed;
    } else {
        answer = carry_out(report[1], *frame, kind);
    }
    if (kind != FaultKind::stall) {
        deliver(answer, due, kind == FaultKind::failed_read, kind == FaultKind::stray ? 2 : 1);
    }
    ++exchanges_;
    return true;
}

std::optional<std::vector<std::uint8_t>> SimulatedController::check_report(
    std::span<const std::uint8_t> report) {
    if (report.size() != report_size) {
        violation("report of " + std::to_string(report.size()) + " bytes");
        return std::nullopt;
    }
    std::copy(report.begin(), report.end(), last_report_.begin());
    last_frame_.clear();
    if (report[0] != 0) violation("report number " + hex(report[0]));
    const std::uint8_t route = report[1];
    if (route > 3 && route != route_opening) {
        violation("route byte " + hex(route));
        return std::nullopt;
    }
    const auto bytes = report.subspan(report_frame_offset);
    if (bytes[0] != frame_head || bytes[1] != frame_head) {
        violation("frame head " + hex(bytes[0]) + " " + hex(bytes[1]));
        return std::nullopt;
    }
    std::vector<std::uint8_t> frame(bytes.begin(), bytes.begin() + command_index);
    std::size_t i = command_index;
    for (; i < bytes.size() && bytes[i] != frame_terminator; ++i) {
        const std::uint8_t b = bytes[i];
        if (b == escape_byte) {
            if (i + 1 >= bytes.size() || bytes[i + 1] > escaped_range_last - escaped_range_first) {
                violation("bad escape at frame byte " + std::to_string(i));
                return std::nullopt;
            }
            frame.push_back(static_cast<std::uint8_t>(bytes[++i] + escaped_range_first));
        } else if (b >= escaped_range_first && b <= escaped_range_last) {
            violation("unescaped " + hex(b) + " at frame byte " + std::to_string(i));
            return std::nullopt;
        } else {
            frame.push_back(b);
        }
    }
    if (i == bytes.size()) {
        violation("no terminator");
        return std::nullopt;
    }
    frame.push_back(frame_terminator);
    last_frame_ = frame;

    const std::uint8_t command = frame.size() > command_index ? frame[command_index] : 0;
    const std::size_t expected = command == command_store_plu ? record_frame_length
                                 : (command == command_open || command == command_request_plu)
                                     ? short_frame_length
                                     : 0;
    if (expected == 0) {
        violation("unknown command " + hex(command));
        return std::nullopt;
    }
    if (frame.size() != expected) {
        violation("frame of " + std::to_string(frame.size()) + " bytes for command " +
                  hex(command));
        return std::nullopt;
    }
    std::uint8_t sum = 0;
    for (std::size_t k = address_index; k + 1 < frame.size(); ++k)
        sum = static_cast<std::uint8_t>(sum + frame[k]);
    if (sum != 0) violation("checksum");
    if (frame[3] != 0 || frame[flag_index] != 1) violation("bytes 3 and 5 must be 0 and 1");
    if ((route == route_opening) != (command == command_open)) {
        violation("command " + hex(command) + " on route " + std::to_string(route));
        return std::nullopt;
    }
    if (command == command_open ? frame[address_index] != 1
                                : !valid_address(frame[address_index])) {
        violation("address byte " + hex(frame[address_index]));
        return std::nullopt;
    }
    return frame;
}

Report SimulatedController::carry_out(std::uint8_t route, const std::vector<std::uint8_t>& frame,
                                      std::optional<FaultKind> fault) {
    const std::uint8_t address = frame[address_index];
    const std::uint8_t command = frame[command_index];
    Report answer{};
    answer[1] = status_ok;
    std::vector<std::uint8_t> reply;
    if (command == command_open) {
        reply = frame_head_for(1, answer_open);
        reply.insert(reply.end(), {0, 0, 0, 0, frame_terminator});
    } else {
        const auto id = ScaleAddress::from_route(route, address);
        Scale* scale = id ? find_scale(*id) : nullptr;
        if (!scale) {
            answer[1] = status_failed;
            return answer;
        }
        const std::uint8_t from = fault == FaultKind::wrong_address ? next_scale_address(address)
                                  : quirks_.own_address             ? own_address_byte
                                                                    : address;
        if (command == command_request_plu) {
            std::uint32_t plu =
                read_le16(std::span<const std::uint8_t, 2>(frame.data() + payload_index, 2));
            if (fault == FaultKind::wrong_plu) ++plu;
            const auto it = scale->records.find(plu);
            const bool known = it != scale->records.end();
            const RecordBody body =
                known ? it->second : empty_record(quirks_.unknown_plu_as_zero ? 0 : plu);
            reply = frame_head_for(from, answer_plu);
            reply.insert(reply.end(), body.begin(), body.end());
            reply.insert(reply.end(), {0, frame_terminator});
        } else {
            RecordBody body;
            std::copy_n(frame.begin() + record_body_offset, body.size(), body.begin());
            scale->records[plu_number_of(body)] = body;
            reply = frame_head_for(from, answer_stored);
            reply.insert(reply.end(), {body[0], body[1], body[2], 0, frame_terminator});
        }
    }
    // Check-summed, then changed as the fault or quirk has it, then escaped into the report.
    FrameBuffer raw{}, escaped{};
    std::copy(reply.begin(), reply.end(), raw.begin());
    checksum(reply.size(), raw);
    if (quirks_.checksum_off_by_one) ++raw[reply.size() - 2];
    if (fault == FaultKind::bad_checksum) raw[payload_index] ^= 0x01;
    const std::size_t n = escape(reply.size(), raw, escaped);
    std::copy_n(escaped.begin(), n, answer.begin() + report_frame_offset);
    if (fault) apply_answer_fault(*fault, answer);
    return answer;
}

void SimulatedController::apply_answer_fault(FaultKind kind, Report& answer) const {
    auto frame = answer.begin() + report_frame_offset;
    switch (kind) {
        case FaultKind::wrong_code:
            frame[command_index] = frame[command_index] == answer_plu ? answer_stored : answer_plu;
            break;
        case FaultKind::short_answer: {
            // Head and code survive; the frame ends well before a record's length.
            const auto end = std::find(frame + command_index + 1, answer.end(), frame_terminator);
            const std::size_t cut = end - frame > 20 ? 20 : command_index + 2;
            std::fill(frame + cut, answer.end(), 0);
            if (frame[cut - 1] == escape_byte) frame[cut - 1] = 0;
            frame[cut] = frame_terminator;
            break;
        }
        case FaultKind::garbage: {
            std::uint32_t seed = 0x2545F491u + static_cast<std::uint32_t>(exchanges_);
            for (auto it = frame; it != answer.end(); ++it) {
                seed = seed * 1664525u + 1013904223u;
                *it = static_cast<std::uint8_t>(seed >> 24);
            }
            if (frame[0] == frame_head) frame[0] = 0;
            break;
        }
        case FaultKind::no_terminator: {
            // The frame's bytes all arrive; its terminator and the rest of the report do not.
            const auto end = std::find(frame + command_index, answer.end(), frame_terminator);
            std::fill(end, answer.end(), std::uint8_t{' '});
            break;
        }
        default:
            break;
    }
}

}  // namespace ktnet::sim
