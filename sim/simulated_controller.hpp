// A KT-NET controller with scales behind it, as pure logic: it takes each 255-byte output
// report and queues the input report a real controller would answer with, checking every
// report it receives like a strict peer. Each open handle of the device has its own queue and
// gets a copy of every answer, as Linux hidraw gives every open handle. Faults can be injected
// per exchange; three quirks make the scales answer their own way throughout.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
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
    no_terminator,  // the request is carried out; the answer's terminator never comes
    failed_write,   // the write fails; nothing reaches the scale
    failed_read,    // the request is carried out, then the read fails
    unplugged,      // this write and every later write and read fail
    latency,        // the answer is right, but comes late (by the fault's delay)
    stray,          // the answer is right, and comes twice
    wrong_plu,      // a request is answered with the next PLU's record
    bad_checksum,   // the request is carried out; a byte of the answer changed after its checksum
    stall,          // the request is carried out, and no answer ever comes
    wrong_address,  // the request is carried out; the answer carries another scale's address
};

// Every kind above, in that order.
inline constexpr std::array<FaultKind, 14> all_fault_kinds = {
    FaultKind::status5,     FaultKind::wrong_code,    FaultKind::short_answer,
    FaultKind::garbage,     FaultKind::no_terminator, FaultKind::failed_write,
    FaultKind::failed_read, FaultKind::unplugged,     FaultKind::latency,
    FaultKind::stray,       FaultKind::wrong_plu,     FaultKind::bad_checksum,
    FaultKind::stall,       FaultKind::wrong_address,
};

struct Fault {
    FaultKind kind;
    std::chrono::microseconds delay{0};  // for latency
};

[[nodiscard]] std::optional<FaultKind> fault_kind_from_name(std::string_view name);
std::string_view fault_kind_name(FaultKind kind);

// The address byte of the scales' answers under the own_address quirk: no scale's address
// (those are 1-9, with 0x80 for a section), so that it can never pass for another scale's.
inline constexpr std::uint8_t own_address_byte = 0x00;

// Ways a scale answers throughout, that a careful reader must still take as it always has.
struct Quirks {
    bool unknown_plu_as_zero = false;  // a PLU it does not hold comes back numbered 0
    bool checksum_off_by_one = false;  // every answer's checksum is one more than it should be
    bool own_address = false;          // every answer carries own_address_byte as its address
};

using Clock = std::chrono::steady_clock;

// The input reports waiting for one open handle of the device.
class InputQueue {
public:
    struct Entry {
        Clock::time_point due;  // not readable before then
        bool fails;             // reading it fails instead of delivering it
        Report report;
    };
    // When the first entry becomes readable, if there is one.
    std::optional<Clock::time_point> next_due() const;
    // The first entry, if it is due at now; it leaves the queue.
    [[nodiscard]] std::optional<Entry> take(Clock::time_point now);
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }

private:
    friend class SimulatedController;
    std::deque<Entry> entries_;
};

class SimulatedController {
public:
    Scale& add_scale(ScaleAddress id) { return scales_[id]; }
    Scale* find_scale(ScaleAddress id);
    const std::map<ScaleAddress, Scale>& scales() const { return scales_; }
    std::map<ScaleAddress, Scale>& scales() { return scales_; }

    // Exchanges are counted from 0, the opening frame.
    void inject(std::size_t exchange, Fault fault) { faults_[exchange] = fault; }
    // A delay added to every answer, as a slow link would: the answer can be read that long
    // after its request was received, and not a moment before.
    void set_latency(std::chrono::microseconds delay) { latency_ = delay; }
    void set_quirks(Quirks quirks) { quirks_ = quirks; }

    // A new open handle's queue. It gets a copy of every answer while the caller keeps it.
    std::shared_ptr<InputQueue> open_queue();

    // The output report as written by the program; false when the write is to fail. The
    // answer, if any, goes into every open queue.
    [[nodiscard]] bool receive(std::span<const std::uint8_t> report);
    // True once the controller is unplugged: every read fails.
    bool unplugged() const { return unplugged_; }

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
    // The answer to a well-formed frame, fault and quirks applied.
    Report carry_out(std::uint8_t route, const std::vector<std::uint8_t>& frame,
                     std::optional<FaultKind> fault);
    void apply_answer_fault(FaultKind kind, Report& answer) const;
    void deliver(const Report& answer, Clock::time_point due, bool fails, int copies);

    std::map<ScaleAddress, Scale> scales_;
    std::map<std::size_t, Fault> faults_;
    std::chrono::microseconds latency_{0};
    Quirks quirks_;
    std::size_t exchanges_ = 0;
    bool unplugged_ = false;
    std::vector<std::weak_ptr<InputQueue>> queues_;
    std::vector<std::string> violations_;
    Report last_report_{};
    std::vector<std::uint8_t> last_frame_;
};

}  // namespace ktnet::sim
