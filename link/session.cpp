#include "session.hpp"

#include <algorithm>

namespace ktnet {

namespace {

Answer refused(Answer answer, AnswerFault fault) {
    answer.verdict = Answer::Verdict::refused;
    answer.fault = fault;
    return answer;
}

// How a record answer departs from its request in the ways a scale may have of its own.
Deviation deviation_of(std::span<const std::uint8_t, record_frame_length> record,
                       std::uint8_t address_asked, std::uint32_t plu_asked) {
    Deviation d;
    d.plu_zero = plu_asked != 0 && record_plu(record) == 0;
    d.checksum_excess = record_checksum_excess(record);
    if (record[address_index] != address_asked) d.address = record[address_index];
    return d;
}

// An address byte that names a scale is that scale's answer, never another scale's own way.
bool from_another_scale(const ScaleAddress& scale, const Deviation& d) {
    return d.address && ScaleAddress::from_route(scale.route(), *d.address).has_value();
}

// The fault of an answer not taken, from what the scale's own ways do not explain, the gravest
// first: it came from elsewhere, it was garbled, it is another record.
AnswerFault fault_of(const Deviation& unexplained) {
    if (unexplained.address) return AnswerFault::wrong_address;
    if (unexplained.checksum_excess != 0) return AnswerFault::bad_checksum;
    return AnswerFault::wrong_plu;
}

// The verdict on an answer's status, head and code.
Answer judge_head(Answer answer, const FrameBuffer& frame, std::uint8_t expected_code) {
    answer.code = frame[command_index];
    if (answer.status == status_failed) return refused(answer, AnswerFault::status_5);
    if (frame[0] != frame_head) return refused(answer, AnswerFault::wrong_head);
    if (answer.code != expected_code) return refused(answer, AnswerFault::wrong_code);
    return answer;
}

}  // namespace

std::string_view describe(AnswerFault fault) {
    switch (fault) {
        case AnswerFault::none:
            return "accepted";
        case AnswerFault::no_controller:
            return "no controller";
        case AnswerFault::write_failed:
            return "the report could not be written";
        case AnswerFault::read_failed:
            return "the answer could not be read";
        case AnswerFault::timed_out:
            return "no answer within the time-out";
        case AnswerFault::interrupted:
            return "interrupted";
        case AnswerFault::status_5:
            return "status 5 (the scale did not answer)";
        case AnswerFault::wrong_head:
            return "the answer does not begin with a frame head";
        case AnswerFault::wrong_code:
            return "wrong answer code";
        case AnswerFault::short_answer:
            return "short answer";
        case AnswerFault::bad_checksum:
            return "the record's checksum does not hold";
        case AnswerFault::wrong_plu:
            return "the record carries another PLU number";
        case AnswerFault::wrong_address:
            return "the answer comes from another address";
        case AnswerFault::plu_out_of_range:
            return "the PLU number is above what a request can carry";
    }
    return "unknown fault";
}

Session::Session(HidPort& port, SessionOptions options)
    : link_(port, options.answer_timeout, std::move(options.stop_requested)) {}

Discovery Session::find_controller(const DiscoveryObserver& observer) {
    return link_.find_controller(observer);
}

Answer Session::exchange(std::uint8_t route, std::size_t n) {
    checksum(n, raw_);
    escape(n, raw_, escaped_);
    const Exchange done = link_.exchange(route, escaped_, answer_);
    Answer answer;
    answer.status = done.status;
    answer.error = done.error;
    switch (done.kind) {
        case Exchange::Kind::answered:
            answer.verdict = Answer::Verdict::accepted;
            break;
        case Exchange::Kind::no_controller:
            answer.fault = AnswerFault::no_controller;
            break;
        case Exchange::Kind::write_failed:
            answer.fault = AnswerFault::write_failed;
            break;
        case Exchange::Kind::read_failed:
            answer.fault = AnswerFault::read_failed;
            break;
        case Exchange::Kind::timed_out:
            answer.fault = AnswerFault::timed_out;
            break;
        case Exchange::Kind::interrupted:
            answer.verdict = Answer::Verdict::interrupted;
            answer.fault = AnswerFault::interrupted;
            break;
    }
    return answer;
}

Answer Session::open_conversation() {
    build_opening_frame(raw_);
    Answer answer = exchange(route_opening, short_frame_length);
    answer.requests = 1;
    return answer;
}

unsigned Session::agreeing(std::size_t length) {
    const bool same =
        length == previous_length_ &&
        std::equal(unescaped_.begin(), unescaped_.begin() + length, previous_.begin());
    agreeing_ = same ? agreeing_ + 1 : 1;
    return agreeing_;
}

void Session::keep_refused(std::size_t length) {
    previous_ = unescaped_;
    previous_length_ = length;
}

bool Session::own_way(const ScaleAddress& scale, const Deviation& deviation, std::size_t length) {
    if (!quirks_.unexplained(scale, deviation).any()) return true;
    if (agreeing(length) < agreeing_answers) return false;
    quirks_.learn(scale, deviation);
    return true;
}

RecordAnswer Session::read_record(const ScaleAddress& scale, std::uint32_t plu) {
    RecordAnswer result;
    result.answer.plu_asked = plu;
    result.answer.address_asked = scale.address_byte();
    if (plu > highest_request_plu) {
        result.answer = refused(result.answer, AnswerFault::plu_out_of_range);
        return result;
    }
    previous_length_ = 0;
    for (unsigned request = 1; request <= record_requests; ++request) {
        build_request_frame(scale.address_byte(), plu, raw_);
        Answer answer = exchange(scale.route(), short_frame_length);
        answer.requests = request;
        answer.plu_asked = plu;
        answer.address_asked = scale.address_byte();
        if (!answer.accepted()) {
            result.answer = answer;
            return result;
        }
        answer = judge_head(answer, answer_, answer_plu);
        if (!answer.accepted()) {
            result.answer = answer;
            return result;
        }
        answer.length = unescape(answer_, unescaped_);
        if (answer.length < record_frame_length) {
            result.answer = refused(answer, AnswerFault::short_answer);
            return result;
        }
        const std::span<const std::uint8_t, record_frame_length> record(unescaped_.data(),
                                                                        record_frame_length);
        answer.plu_answered = record_plu(record);
        answer.address_answered = record[address_index];
        const Deviation d = deviation_of(record, scale.address_byte(), plu);
        const bool other_record =
            (answer.plu_answered != plu && !d.plu_zero) || from_another_scale(scale, d);
        if (!other_record && (!d.any() || own_way(scale, d, answer.length))) {
            result.answer = answer;
            std::copy(record.begin(), record.end(), result.record.begin());
            return result;
        }
        result.answer = refused(answer, fault_of(quirks_.unexplained(scale, d)));
        keep_refused(answer.length);
    }
    return result;
}

Answer Session::store_record(const ScaleAddress& scale, const RecordFrame& record) {
    Answer answer;
    previous_length_ = 0;
    for (unsigned request = 1; request <= record_requests; ++request) {
        build_store_frame(scale.address_byte(), record, raw_);
        answer = exchange(scale.route(), record_frame_length);
        answer.requests = request;
        answer.address_asked = scale.address_byte();
        if (!answer.accepted()) return answer;
        answer = judge_head(answer, answer_, answer_stored);
        if (!answer.accepted()) return answer;
        answer.address_answered = answer_[address_index];
        if (answer.address_answered == answer.address_asked) return answer;
        const Deviation d{.address = answer.address_answered};
        const std::size_t length = unescape(answer_, unescaped_);
        if (!from_another_scale(scale, d) && own_way(scale, d, length)) return answer;
        answer = refused(answer, AnswerFault::wrong_address);
        keep_refused(length);
    }
    return answer;
}

}  // namespace ktnet
