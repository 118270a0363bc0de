// What a job tells the store as it goes, committed in few transactions: before records are
// sent, the next of them marked unknown (on the disk before the first request goes out); their
// results, once a second. A failure to write the store stops the job: nothing is sent whose mark
// is not on the disk.
#pragma once

#include <chrono>
#include <functional>
#include <set>
#include <span>
#include <utility>

#include "store/shop_store.hpp"

namespace ktnet {

// Records marked ahead of their sending, at most: about a second of a real link's exchanges.
inline constexpr std::size_t marked_ahead = 128;

class StoreJournal {
public:
    StoreJournal(ShopStore& store, JobId job, std::function<TimePoint()> now);

    ShopStore& store() { return store_; }
    JobId job() const { return job_; }

    // Before the first of upcoming is sent: unless it is marked already, it and the records after
    // it (up to marked_ahead) are marked unknown, and committed at once. A mark is never taken
    // back but by an answer: a record marked and then not sent (the run stopped first) stays
    // unknown, and is sent next time.
    [[nodiscard]] StoreStatus before_sending(const ScaleAddress& scale,
                                             std::span<const std::uint32_t> upcoming);
    void confirmed(const ScaleAddress& scale, const StoredRecord& record, ChangeCause cause);
    void read(const ScaleAddress& scale, const StoredRecord& record);
    void contact(const ScaleAddress& scale) { pending_.contact(scale); }

    // Commits what came in once a second has passed since the last commit.
    [[nodiscard]] StoreStatus flush_if_due();
    // Commits what came in now.
    [[nodiscard]] StoreStatus flush();

private:
    using Key = std::pair<ScaleAddress, std::uint32_t>;
    ShopStore& store_;
    JobId job_;
    std::function<TimePoint()> now_;
    StoreBatch pending_;
    std::set<Key> marked_;  // marked unknown on the disk, and not yet settled
    std::chrono::steady_clock::time_point last_commit_ = std::chrono::steady_clock::now();
};

}  // namespace ktnet
