#include "scale_quirks.hpp"

namespace ktnet {

Deviation ScaleQuirks::unexplained(const ScaleAddress& scale, Deviation deviation) const {
    const auto it = learned_.find(scale);
    if (it == learned_.end()) return deviation;
    const Deviation& learned = it->second;
    if (learned.plu_zero) deviation.plu_zero = false;
    if (deviation.checksum_excess == learned.checksum_excess) deviation.checksum_excess = 0;
    if (deviation.address == learned.address) deviation.address.reset();
    return deviation;
}

void ScaleQuirks::learn(const ScaleAddress& scale, const Deviation& deviation) {
    Deviation& learned = learned_[scale];
    if (deviation.plu_zero) learned.plu_zero = true;
    if (deviation.checksum_excess != 0) learned.checksum_excess = deviation.checksum_excess;
    if (deviation.address) learned.address = deviation.address;
}

}  // namespace ktnet
