// A conversation with the scales behind one KT-NET controller, in the operations the programs
// need: open it, read one PLU record, store one PLU record. The session owns the frame buffers
// for its whole life, so the bytes an earlier, longer frame left behind in them go out after a
// shorter frame's terminator exactly as they always have; it classifies every answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "controller_link.hpp"
#include "frame.hpp"
#include "scale_address.hpp"

namespace ktnet {

// Requests for one record whose answer fails its checks, before the session gives up.
inline constexpr unsigned record_requests = 3;

struct SessionOptions {
    std::chrono::milliseconds answer_timeout = ktnet::answer_timeout;
    std::function<bool()> stop_requested = [] { return false; };
};

// Why an answer was not taken; none when it was.
enum class AnswerFault {
    none,
    no_controller,  // no controller was found, or it is held elsewhere
    write_failed,
    read_failed,
    timed_out,
    interrupted,   // the run was asked to stop while it waited
    status_5,      // status byte 5: the controller got no answer from the scale
    wrong_head,    // the answer does not begin with the frame head
    wrong_code,    // the answer carries another command code
    short_answer,  // a record answer of fewer than 77 bytes
    bad_checksum,  // a record whose checksum does not hold, three times over
    wrong_plu,     // a record of another PLU number than asked, three times over
};

// An English phrase for the fault, for diagnostics ("timed out", "status 5"...).
std::string_view describe(AnswerFault fault);

struct [[nodiscard]] Answer {
    enum class Verdict {
        accepted,     // a record read, or a record stored
        refused,      // an answer came, but not the one wanted
        no_answer,    // nothing came back
        interrupted,  // the run was asked to stop
    };
    Verdict verdict = Verdict::no_answer;
    AnswerFault fault = AnswerFault::none;
    PortError error;                 // the system's reason, for write_failed and read_failed
    std::uint8_t status = 0;         // the status byte of the last answer
    std::uint8_t code = 0;           // the command code of the last answer
    std::size_t length = 0;          // the last record answer's length once unescaped
    std::uint32_t plu_asked = 0;     // reads: the PLU number asked for
    std::uint32_t plu_answered = 0;  // reads: the PLU number the last answer carried
    unsigned requests = 0;           // requests sent for this operation

    bool accepted() const { return verdict == Verdict::accepted; }
};

struct [[nodiscard]] RecordAnswer {
    Answer answer;
    RecordFrame record{};  // the record, when the answer was accepted
};

class Session {
public:
    // port must outlive the session.
    explicit Session(HidPort& port, SessionOptions options = {});

    // Finds the controller and holds it for this run alone; see ControllerLink.
    Discovery find_controller(const DiscoveryObserver& observer);

    // Sends the opening frame. Its answer carries nothing the programs use: it is accepted as
    // soon as anything came back, and the programs ignore it on purpose.
    Answer open_conversation();

    // Asks the scale for one PLU record. An answer with the right status, head and code must
    // unescape to at least 77 bytes, or the read ends refused. A record whose checksum fails or
    // that carries another PLU number is asked for again, up to record_requests requests in
    // all; it is accepted once an answer passes both checks, or when two answers in a row are
    // identical byte for byte: that is the scale's own answer, however it numbers or sums.
    RecordAnswer read_record(const ScaleAddress& scale, std::uint32_t plu);

    // Sends one record to be stored (bytes 6 to 74 of record; the rest is the frame's own).
    // Accepted when the answer has a status other than 5, the frame head and code 0xD1.
    Answer store_record(const ScaleAddress& scale, const RecordFrame& record);

private:
    // Check-sums and escapes the n-byte raw frame and exchanges it. The answer's verdict is
    // accepted when something came back; the caller judges what.
    Answer exchange(std::uint8_t route, std::size_t n);

    ControllerLink link_;
    FrameBuffer raw_{};
    FrameBuffer escaped_{};
    FrameBuffer answer_{};
    FrameBuffer unescaped_{};
    FrameBuffer previous_{};  // the last record answer that failed its checks
};

}  // namespace ktnet
