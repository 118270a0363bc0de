// A KT-NET controller with scales behind it, as pure logic: it takes each 255-byte output
// report and gives back the input report a real controller would, checking every report it
// receives like a strict peer. Faults can be injected per exchange.
#pragma once

#include <array>
#include <chrono>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/controller_link.hpp"
#include "link/frame.hpp"
#include "link/hid_port.hpp"
#include "link/scale_address.hpp"
#include "plu/field_table.hpp"

namespace ktnet::sim {

// Bytes 6..74 of a record frame: PLU number, name and settings.
inline constexpr std::size_t record_body_offset = payload_index;
inline constexpr std::size_t record_body_length = record_frame_length - 2 - payload_index;  // 69
using RecordBody = std::array<std::uint8_t, record_body_length>;

std::uint32_t plu_number_of(const RecordBody& body);

// The empty record a scale answers for a PLU it does not hold: the number, a name of spaces,
// zero settings.
RecordBody empty_record(std::uint32_t plu);

struct Scale {
    std::map<std::uint32_t, RecordBody> records;  // by PLU number
};

enum class FaultKind {
    status5,        // status byte 5; the request is not carried out
    wrong_code,     // the request is carried out, but the answer has another command code
    short_answer,   // the request is carried out; the answer frame ends early
    garbage,        // the request is carried out; the answer is noise
    no_terminator,  // the request is carried out; the answer has no terminator in the report
    failed_write,   // the write fails; nothing reaches the scale
    failed_read,    // the request is carried out, then the read fails
    unplugged,      // this write and every later write and read fail
    latency,        // the answer is right, but comes late
};

// Every kind above, in that order.
inline constexpr std::array<FaultKind, 9> all_fault_kinds = {
    FaultKind::status5,     FaultKind::wrong_code,    FaultKind::short_answer,
    FaultKind::garbage,     FaultKind::no_terminator, FaultKind::failed_write,
    FaultKind::failed_read, FaultKind::unplugged,     FaultKind::latency,
};

struct Fault {
    FaultKind kind;
    std::chrono::microseconds delay{0};  // for latency
};

std::optional<FaultKind> fault_kind_from_name(std::string_view name);
std::string_view fault_kind_name(FaultKind kind);

class SimulatedController {
public:
    Scale& add_scale(ScaleAddress id) { return scales_[id]; }
    Scale* find_scale(ScaleAddress id);
    const std::map<ScaleAddress, Scale>& scales() const { return scales_; }
    std::map<ScaleAddress, Scale>& scales() { return scales_; }

    // Exchanges are counted from 0, the opening frame.
    void inject(std::size_t exchange, Fault fault) { faults_[exchange] = fault; }
    // A delay added to every exchange, as a slow link would: the answer can be read that long
    // after its request was received, and not a moment before or (but for the scheduler) after.
    void set_latency(std::chrono::microseconds delay) { latency_ = delay; }

    // The output report as written by the program; false when the write is to fail.
    bool receive(std::span<const std::uint8_t> report);
    // The input report answering the last one received; false when the read is to fail.
    bool answer(std::span<std::uint8_t, report_size> report);

    std::size_t exchanges() const { return exchanges_; }
    const std::vector<std::string>& violations() const { return violations_; }
    // The last output report received, and its frame unescaped.
    const Report& last_report() const { return last_report_; }
    const std::vector<std::uint8_t>& last_frame() const { return last_frame_; }

private:
    std::optional<Fault> fault_now() const;
    void violation(std::string what);
    // Checks the report as a strict peer would; the unescaped frame when it is well formed.
    std::optional<std::vector<std::uint8_t>> check_report(std::span<const std::uint8_t> report);
    void carry_out(std::uint8_t route, const std::vector<std::uint8_t>& frame);
    void apply_answer_fault(FaultKind kind);

    std::map<ScaleAddress, Scale> scales_;
    std::map<std::size_t, Fault> faults_;
    std::chrono::microseconds latency_{0};
    std::size_t exchanges_ = 0;
    bool unplugged_ = false;
    bool read_fails_ = false;
    std::optional<std::chrono::steady_clock::time_point> answer_due_;
    std::vector<std::string> violations_;
    Report last_report_{};
    std::vector<std::uint8_t> last_frame_;
    Report pending_{};  // the input report for the next read
};

}  // namespace ktnet::sim
