#include "session.hpp"

#include <algorithm>

namespace ktnet {

namespace {

Answer refused(Answer answer, AnswerFault fault) {
    answer.verdict = Answer::Verdict::refused;
    answer.fault = fault;
    return answer;
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

RecordAnswer Session::read_record(const ScaleAddress& scale, std::uint32_t plu) {
    RecordAnswer result;
    std::size_t previous_length = 0;
    for (unsigned request = 1; request <= record_requests; ++request) {
        build_request_frame(scale.address_byte(), plu, raw_);
        Answer answer = exchange(scale.route(), short_frame_length);
        answer.requests = request;
        answer.plu_asked = plu;
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
        const bool checks_hold = record_checksum_holds(record) && answer.plu_answered == plu;
        const bool repeated =
            request > 1 && answer.length == previous_length &&
            std::equal(unescaped_.begin(), unescaped_.begin() + answer.length, previous_.begin());
        if (checks_hold || repeated) {
            result.answer = answer;
            std::copy(record.begin(), record.end(), result.record.begin());
            return result;
        }
        result.answer = refused(answer, record_checksum_holds(record) ? AnswerFault::wrong_plu
                                                                      : AnswerFault::bad_checksum);
        previous_ = unescaped_;
        previous_length = answer.length;
    }
    return result;
}

Answer Session::store_record(const ScaleAddress& scale, const RecordFrame& record) {
    build_store_frame(scale.address_byte(), record, raw_);
    Answer answer = exchange(scale.route(), record_frame_length);
    answer.requests = 1;
    if (!answer.accepted()) return answer;
    return judge_head(answer, answer_, answer_stored);
}

}  // namespace ktnet
