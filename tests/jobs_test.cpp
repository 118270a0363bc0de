// A job as any front end drives it: events in order to an observer, the result as data, and a
// stop between two records.
#include <gtest/gtest.h>

#include <atomic>

#include "shop/backup_job.hpp"
#include "sim/sim_port.hpp"
#include "test_support.hpp"

namespace ktnet {
namespace {

using testing::address;

// Every event, as one line each.
class Recording : public JobObserver {
public:
    std::vector<std::string> events;
    std::function<void()> after_record = [] {};

    void scale_started(const ScaleAddress& s, std::size_t total) override {
        events.push_back("start " + s.text() + " " + std::to_string(total));
    }
    void record_done(const ScaleAddress& s, std::size_t done, const RecordEvent& e) override {
        events.push_back("record " + s.text() + " " + std::to_string(done) + " PLU " +
                         std::to_string(e.plu) + " " + e.result);
        after_record();
    }
    void scale_done(const ScaleAddress& s, const ScaleOutcome& o) override {
        events.push_back("done " + s.text() + " " + std::to_string(o.done) + "/" +
                         std::to_string(o.total) + " " + o.result);
    }
};

TEST(Job, TellsItsEventsInOrderReturnsDataAndStopsBetweenRecords) {
    testing::ScratchDir dir;
    sim::SimulatedController controller;
    for (const char* s : {"1S1", "1S2", "2T1"}) {
        auto& records = controller.add_scale(address(s)).records;
        for (std::uint32_t plu = 1; plu <= 3; ++plu) records[plu] = sim::empty_record(plu);
    }
    sim::SimPort port = sim::port_with_controller(controller);
    ShopEnvironment env;
    env.open_port = [&] { return std::make_unique<sim::SimPort>(port); };
    // A stop button pressed while 1S2's second record comes in.
    std::atomic<bool> stop = false;
    ConnectionOptions options;
    options.stop_requested = [&] { return stop.load(); };
    auto connection = Connection::open(env, options);
    ASSERT_TRUE(connection) << connection.error().message;
    Recording observer;
    observer.after_record = [&] {
        if (observer.events.back() == "record 1S2 2 PLU 2 read") stop = true;
    };
    const BackupOutcome result = run_backup_job(**connection,
                                                {{address("1S1"), address("1S2"), address("2T1")},
                                                 {1, 2, 3},
                                                 dir.path(),
                                                 std::chrono::system_clock::now()},
                                                observer);

    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"start 1S1 3", "record 1S1 1 PLU 1 read",
                                        "record 1S1 2 PLU 2 read", "record 1S1 3 PLU 3 read",
                                        "done 1S1 3/3 ok", "start 1S2 3", "record 1S2 1 PLU 1 read",
                                        "record 1S2 2 PLU 2 read", "done 1S2 2/3 stopped"}));
    ASSERT_EQ(result.scales.size(), 3u);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.scales[0].state, ScaleState::done);
    EXPECT_EQ(result.scales[1].state, ScaleState::stopped);
    EXPECT_EQ(result.scales[1].records, 2u);
    EXPECT_EQ(result.scales[2].state, ScaleState::not_started);
    EXPECT_TRUE(std::filesystem::exists(result.scales[0].file));
    EXPECT_FALSE(std::filesystem::exists(result.scales[1].file));
    // The opening, 1S1's three, 1S2's two: nothing is asked after the stop.
    EXPECT_EQ(controller.exchanges(), 1 + 3 + 2u);
}

}  // namespace
}  // namespace ktnet
