// The unpacking's bound by free space, in process: the file system's free
// space is stood in for, as no test can shrink the real one.

#include "ToolTesting.h"
#include "Unzip.h"
#include "ZipBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;
using Kind = ZipItem::Kind;

struct RoomCase {
    const char* name;
    std::optional<std::uint64_t> free;  // nothing: cannot be found out
    bool unpacks;
};

class UnzipRoom : public ::testing::TestWithParam<RoomCase> {};

TEST_P(UnzipRoom, RefusesBeforeWritingWhatWouldLeaveLessThanTheSpareMargin) {
    TempDir dir;
    std::string random(1 << 20, '\0');
    std::mt19937 engine(3);
    for (auto& byte : random) byte = static_cast<char>(engine());
    writeZip(dir / "update.zip", {{Kind::File, "App.app/a", random}, {Kind::File, "App.app/b", random}});

    UnzipLimits limits;
    limits.spareBytes = 1 << 20;
    limits.freeBytes = [](int) { return GetParam().free; };
    bool outOfSpace = false;
    const std::string why = unzip((dir / "update.zip").string(), (dir / "new").string(), limits, &outOfSpace);
    EXPECT_EQ(outOfSpace, !GetParam().unpacks) << "ditto's own exit status for it";
    if (GetParam().unpacks) {
        EXPECT_EQ(why, "");
        EXPECT_EQ(readText(dir / "new/App.app/b"), random);
    } else {
        EXPECT_NE(why.find("not enough free space"), std::string::npos) << why;
        EXPECT_TRUE(fs::is_empty(dir / "new")) << "refused before anything was written";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UnzipRoom,
                         ::testing::Values(RoomCase{"Plenty", 1ull << 40, true},
                                           RoomCase{"RoomWithTheMargin", 3ull << 20, true},
                                           RoomCase{"RoomOnlyWithoutTheMargin", (2ull << 20) + (1 << 19), false},
                                           RoomCase{"Full", 0, false}, RoomCase{"Unknown", std::nullopt, true}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace orvane::testing
