// What the session learns during a run about the scales that answer their own way. An answer
// that departs from its request in a way a scale may have throughout (its own numbering of
// unknown PLUs, its own sum, its own address byte) is that scale's own only once the scale has
// shown it in agreeing_answers answers; one pair of equal answers is too weak a proof, as one
// fault on two requests in a row gives one. From then on the scale's answers with it are taken
// at once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "scale_address.hpp"

namespace ktnet {

// Answers to one request, identical byte for byte and in a row, that make a deviation the
// scale's own the first time the scale shows it.
inline constexpr unsigned agreeing_answers = 3;

// How an answer departs from its request in the ways a scale may have of its own. Any other
// departure (a record of another PLU, an answer from another scale's address) is a fault,
// never the scale's way.
struct Deviation {
    bool plu_zero = false;                // PLU 0 answered for another PLU
    std::uint8_t checksum_excess = 0;     // what the summed bytes come to; 0 when the sum holds
    std::optional<std::uint8_t> address;  // the answer's address byte, when not the one asked

    bool any() const { return plu_zero || checksum_excess != 0 || address.has_value(); }
};

class ScaleQuirks {
public:
    // The parts of the deviation the scale has not shown as its own before: none when every
    // part is its known way.
    [[nodiscard]] Deviation unexplained(const ScaleAddress& scale, Deviation deviation) const;
    // Remembers every part of the deviation as the scale's own for the rest of the run; a
    // scale sums one way and answers from one address, so a new value replaces the old.
    void learn(const ScaleAddress& scale, const Deviation& deviation);

private:
    std::map<ScaleAddress, Deviation> learned_;  // by scale, every part it has shown
};

}  // namespace ktnet
