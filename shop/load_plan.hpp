// What a load will send, worked out before anything is sent: the file read line by line and
// checked whole with check's rules, the records chosen, and, for a resumed load, what an earlier
// run's log shows as done. Needs no controller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/result.hpp"
#include "link/frame.hpp"
#include "link/scale_address.hpp"
#include "plu/file_check.hpp"
#include "shop/shop_file.hpp"
#include "store/shop_store.hpp"

namespace ktnet {

struct LoadRequest {
    std::string file;                    // as given
    std::vector<ScaleAddress> targets;   // in the order they are loaded
    std::optional<NumberRange> lines{};  // counted from 1; nothing: every line
    std::optional<NumberSet> plus{};     // nothing: every PLU
    bool verify = false;
    std::string resume{};  // an earlier run's log, or empty
    // Send only the records that differ from what the store knows the scale holds, and those
    // it does not know.
    bool changed = false;
    // What the store knows each target holds; a target missing here is known not at all.
    std::map<ScaleAddress, KnownState> known{};
    CheckRules rules{};  // check's rules, which the file must pass
};

struct PlannedRecord {
    std::size_t line;
    std::uint32_t plu;
    RecordFrame record;
    std::uint64_t digest;
};

struct ScalePlan {
    ScaleAddress scale;
    // Indexes into LoadPlan::records: to send (and, with verify, read back), or only to read
    // back (an earlier run stored them but stopped before their read-back).
    std::vector<std::size_t> send{};
    std::vector<std::size_t> read_back{};
    std::size_t done_before = 0;  // records an earlier run's log shows as done
    // Byte 36 of each record (by index into LoadPlan::records), which no line carries: what the
    // store knows the scale holds there, else 0, as ldk stores it.
    std::vector<std::uint8_t> byte36{};
    std::size_t byte36_unknown = 0;  // records whose byte 36 the store does not know
    std::size_t unchanged = 0;       // with --changed: records already as the store knows them
    std::optional<TimePoint> basis_backup{}, basis_change{};  // what the store's knowledge is
};

struct LoadPlan {
    std::vector<PlannedRecord> records;  // the selection, in the file's order
    std::vector<ScalePlan> scales;
    std::vector<std::string> file_scales;          // the scales columns 0-8 of the selection name
    std::optional<std::filesystem::path> resumes;  // the earlier log, as a full path
    std::size_t to_send() const;
    std::size_t to_read_back() const;
};

// Why nothing will be sent.
struct PlanRefusal {
    int status;                         // 1: the file breaks the rules; 2: trouble
    std::vector<std::string> messages;  // at most max_listed_problems, each a whole line
    std::size_t more = 0;               // problems not listed
    std::string hint{};                 // what the file looks like instead, with what to do
    std::string summary{};              // the last line, after "and N more" and the hint
};

inline constexpr std::size_t max_listed_problems = 20;

// Collects problems as a refusal lists them: the first max_listed_problems, then a count.
class RefusalList {
public:
    void add(std::string message) {
        ++count_;
        if (refusal_.messages.size() < max_listed_problems) {
            refusal_.messages.push_back(std::move(message));
        } else {
            ++refusal_.more;
        }
    }
    std::size_t count() const { return count_; }
    PlanRefusal take(int status, std::string summary = {}) {
        refusal_.status = status;
        refusal_.summary = std::move(summary);
        return std::move(refusal_);
    }

private:
    std::size_t count_ = 0;
    PlanRefusal refusal_{1, {}};
};

// Reads and checks the whole file (a load sends only what check passes: every line whole, no
// duplicate PLU, no PLU above 65535, no 0x1A before the end), chooses the records, and with a
// resume, reads the log chain from the oldest log on. A log made for other scales, one without
// digests, or one of whose records none is in the file, is refused with the reason.
[[nodiscard]] Result<LoadPlan, PlanRefusal> plan_load(const LoadRequest& request);

}  // namespace ktnet
