#include "shop/store_journal.hpp"

namespace ktnet {

StoreJournal::StoreJournal(ShopStore& store, JobId job, std::function<TimePoint()> now)
    : store_(store), job_(job), now_(std::move(now)) {}

StoreStatus StoreJournal::before_sending(const ScaleAddress& scale,
                                         std::span<const std::uint32_t> upcoming) {
    if (upcoming.empty() || marked_.contains({scale, upcoming.front()})) return Done{};
    // The results so far go with the marks, in the same commit.
    StoreBatch batch = std::move(pending_);
    pending_ = StoreBatch{};
    for (std::size_t i = 0; i < upcoming.size() && i < marked_ahead; ++i)
        batch.sending(scale, upcoming[i]);
    if (auto done = store_.commit(batch, job_, now_()); !done) return done;
    for (std::size_t i = 0; i < upcoming.size() && i < marked_ahead; ++i)
        marked_.insert({scale, upcoming[i]});
    last_commit_ = std::chrono::steady_clock::now();
    return Done{};
}

void StoreJournal::confirmed(const ScaleAddress& scale, const StoredRecord& record,
                             ChangeCause cause) {
    marked_.erase({scale, plu_of(record)});
    pending_.confirmed(scale, record, cause);
}

void StoreJournal::read(const ScaleAddress& scale, const StoredRecord& record) {
    marked_.erase({scale, plu_of(record)});
    pending_.read(scale, record);
}

StoreStatus StoreJournal::flush_if_due() {
    if (std::chrono::steady_clock::now() - last_commit_ < std::chrono::seconds(1)) return Done{};
    return flush();
}

StoreStatus StoreJournal::flush() {
    if (pending_.empty()) return Done{};
    if (auto done = store_.commit(pending_, job_, now_()); !done) return done;
    pending_ = StoreBatch{};
    last_commit_ = std::chrono::steady_clock::now();
    return Done{};
}

}  // namespace ktnet
