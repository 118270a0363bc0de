// Numbers, ranges and lists as a command line gives them.
#include "base/numbers.hpp"

#include <gtest/gtest.h>

#include <set>

namespace ktnet {
namespace {

struct NumberSetCase {
    const char* text;
    std::vector<std::uint32_t> in, out;
    bool ok;
};

class NumberSets : public ::testing::TestWithParam<NumberSetCase> {};

TEST_P(NumberSets, HoldExactlyTheirNumbers) {
    const auto& c = GetParam();
    const auto set = parse_number_set(c.text, 1, 999999);
    ASSERT_EQ(set.has_value(), c.ok) << (set ? "" : set.error());
    if (!set) return;
    for (const auto n : c.in) EXPECT_TRUE(set->contains(n)) << n;
    for (const auto n : c.out) EXPECT_FALSE(set->contains(n)) << n;
    const auto all = set->numbers();
    EXPECT_EQ(std::set<std::uint32_t>(all.begin(), all.end()).size(), all.size()) << "each once";
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberSets,
    ::testing::Values(NumberSetCase{"1-50,77", {1, 50, 77}, {0, 51, 76, 78}, true},
                      NumberSetCase{"999999", {999999}, {999998}, true},
                      NumberSetCase{"5-5", {5}, {4, 6}, true}, NumberSetCase{"0", {}, {0}, false},
                      NumberSetCase{"1000000", {}, {}, false}, NumberSetCase{"9-3", {}, {}, false},
                      NumberSetCase{"1,x", {}, {}, false}, NumberSetCase{"-4", {}, {}, false},
                      NumberSetCase{"1-", {}, {}, false},
                      NumberSetCase{"4-6,5-8", {4, 8}, {3, 9}, true},
                      NumberSetCase{"4294967296", {}, {}, false}));

}  // namespace
}  // namespace ktnet
