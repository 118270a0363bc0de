// A conversation with the scales behind one KT-NET controller, in the operations the programs
// need: open it, read one PLU record, store one PLU record. The session owns the frame buffers
// for its whole life, so the bytes an earlier, longer frame left behind in them go out after a
// shorter frame's terminator exactly as they always have; it classifies every answer, and
// remembers for the whole run which scales answer their own way (ScaleQuirks).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "controller_link.hpp"
#include "frame.hpp"
#include "scale_address.hpp"
#include "scale_quirks.hpp"

namespace ktnet {

// Requests for one record (or one store) whose answers fail their checks, before the session
// gives up: room for two transient faults in a row and then the agreeing answers that show a
// scale's own way.
inline constexpr unsigned record_requests = 2 + agreeing_answers;

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
    interrupted,       // the run was asked to stop while it waited
    status_5,          // status byte 5: the controller got no answer from the scale
    wrong_head,        // the answer does not begin with the frame head
    wrong_code,        // the answer carries another command code
    short_answer,      // a record answer of fewer than 77 bytes
    bad_checksum,      // a record whose checksum does not hold, at every request
    wrong_plu,         // a record of another PLU number than asked, at every request
    wrong_address,     // an answer from another address byte than asked, at every request
    plu_out_of_range,  // a PLU number a request cannot carry; nothing was sent
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
    PortError error;                    // the system's reason, for write_failed and read_failed
    std::uint8_t status = 0;            // the status byte of the last answer
    std::uint8_t code = 0;              // the command code of the last answer
    std::size_t length = 0;             // the last record answer's length once unescaped
    std::uint32_t plu_asked = 0;        // reads: the PLU number asked for
    std::uint32_t plu_answered = 0;     // reads: the PLU number the last answer carried
    std::uint8_t address_asked = 0;     // the scale's address byte
    std::uint8_t address_answered = 0;  // the address byte of the last answer
    unsigned requests = 0;              // requests sent for this operation

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

    // Asks the scale for one PLU record. A PLU above highest_request_plu is refused at once,
    // unsent. An answer with the right status, head and code must unescape to at least 77
    // bytes, or the read ends refused. A record must come from the scale's address byte, hold
    // its checksum and carry the PLU asked for; one that does not is asked for again, up to
    // record_requests requests in all. A departure the scale may have of its own (PLU 0 for a
    // PLU it lacks, a sum off by a constant, an address byte of its own) is accepted when the
    // scale has shown it before in this session, or when agreeing_answers answers in a row are
    // identical byte for byte; any other PLU number, or the address byte of another scale,
    // never is.
    RecordAnswer read_record(const ScaleAddress& scale, std::uint32_t plu);

    // Sends one record to be stored (bytes 6 to 74 of record; the rest is the frame's own).
    // Accepted when the answer has a status other than 5, the frame head, code 0xD1 and the
    // scale's address byte, or its own address byte as for a read; otherwise, after a status,
    // head or code that holds, the record is sent again (storing it twice is harmless), up to
    // record_requests requests in all.
    Answer store_record(const ScaleAddress& scale, const RecordFrame& record);

private:
    // Check-sums and escapes the n-byte raw frame and exchanges it. The answer's verdict is
    // accepted when something came back; the caller judges what.
    Answer exchange(std::uint8_t route, std::size_t n);
    // How many answers to this request in a row, the unescaped one of length bytes included,
    // are identical to it byte for byte; counted only for answers that may be the scale's way.
    unsigned agreeing(std::size_t length);
    // True when the deviating unescaped answer of length bytes is the scale's own way: shown
    // before, or shown now by agreeing_answers answers in a row, and then learned.
    bool own_way(const ScaleAddress& scale, const Deviation& deviation, std::size_t length);
    // Keeps the unescaped answer, not taken, for the next answer to the same request.
    void keep_refused(std::size_t length);

    ControllerLink link_;
    ScaleQuirks quirks_;
    FrameBuffer raw_{};
    FrameBuffer escaped_{};
    FrameBuffer answer_{};
    FrameBuffer unescaped_{};
    FrameBuffer previous_{};           // the last answer to this request that was not taken
    std::size_t previous_length_ = 0;  // its length; 0 for none
    unsigned agreeing_ = 0;
};

}  // namespace ktnet
