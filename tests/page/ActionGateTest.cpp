// How often a page may hand addresses to the desktop or start downloads,
// one row per sequence: "a" the user acts, "l" a page loads, "+" one that
// goes, "-" one refused.

#include <gtest/gtest.h>

#include <sstream>

#include "ActionGate.h"
#include "CaseName.h"

namespace orvane {
namespace {

struct GateCase {
    const char* name;
    bool onePerLoad;
    const char* steps;
};

class ActionGateTest : public testing::TestWithParam<GateCase> {};

TEST_P(ActionGateTest, LetsThroughOnePerActionAndOnePerLoadWithoutOne) {
    ActionGate gate(GetParam().onePerLoad);
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

INSTANTIATE_TEST_SUITE_P(Cases, ActionGateTest,
                         testing::Values(GateCase{"WithoutActionOnePerLoad", true, "+ - - l + - l + -"},
                                         // 500 window.open on one click, or 50 from a frame: one goes.
                                         GateCase{"OneActionOneHandOff", true, "a + - - -"},
                                         GateCase{"EachActionItsOwn", true, "a + a + a + -"},
                                         GateCase{"AnActionAfterTheLoadsWasSpent", true, "+ - a + -"},
                                         GateCase{"AnActionSpendsTheLoadsToo", true, "a + - l + -"},
                                         GateCase{"AnActionWaitsUntilUsed", true, "a l + -"},
                                         // Downloads: 20 hidden frames with no click get none.
                                         GateCase{"DownloadsOnlyOnAnAction", false, "- - l - a + - l -"}),
                         CaseName());

TEST(ActionGate, TellsOneRefusalPerRun) {
    ActionGate gate(true);
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
