// How often a page may hand addresses to the desktop, one row per sequence:
// "a" the user acts, "l" a page loads, "+" a hand-off that goes, "-" one
// refused.

#include <gtest/gtest.h>

#include <sstream>

#include "CaseName.h"
#include "HandOffGate.h"

namespace orvane {
namespace {

struct GateCase {
    const char* name;
    const char* steps;
};

class HandOffGateTest : public testing::TestWithParam<GateCase> {};

TEST_P(HandOffGateTest, LetsThroughOnePerActionAndOnePerLoadWithoutOne) {
    HandOffGate gate;
    std::istringstream steps(GetParam().steps);
    std::string step;
    int index = 0;
    std::size_t refused = 0;
    while (steps >> step) {
        ++index;
        if (step == "a") gate.userActed();
        else if (step == "l") gate.pageLoaded();
        else EXPECT_EQ(gate.take(), step == "+") << "step " << index;
        refused += step == "-";
    }
    EXPECT_EQ(gate.refusals(), refused);
}

INSTANTIATE_TEST_SUITE_P(Cases, HandOffGateTest,
                         testing::Values(GateCase{"WithoutActionOnePerLoad", "+ - - l + - l + -"},
                                         // 500 window.open on one click, or 50 from a frame: one goes.
                                         GateCase{"OneActionOneHandOff", "a + - - -"},
                                         GateCase{"EachActionItsOwn", "a + a + a + -"},
                                         GateCase{"AnActionAfterTheLoadsWasSpent", "+ - a + -"},
                                         GateCase{"AnActionSpendsTheLoadsToo", "a + - l + -"},
                                         GateCase{"AnActionWaitsUntilUsed", "a l + -"}),
                         CaseName());

TEST(HandOffGate, TellsOneRefusalPerRun) {
    HandOffGate gate;
    EXPECT_TRUE(gate.take());
    EXPECT_FALSE(gate.take());
    EXPECT_TRUE(gate.tellRefusal());
    EXPECT_FALSE(gate.take());
    EXPECT_FALSE(gate.tellRefusal());
    gate.pageLoaded();
    EXPECT_TRUE(gate.take());
    EXPECT_FALSE(gate.take());
    EXPECT_TRUE(gate.tellRefusal());
}

}  // namespace
}  // namespace orvane
