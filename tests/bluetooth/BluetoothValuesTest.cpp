// The small value rules of the bridge: ids, GATT UUIDs, hexadecimal bytes,
// request numbers, adapter words and characteristic keys.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "AdapterWords.h"
#include "Bluetooth.h"
#include "Bytes.h"
#include "GattUuid.h"
#include "MainQueueVirtual.h"
#include "MessageFields.h"
#include "PeripheralFake.h"
#include "RadioFake.h"
#include "Uuid.h"

namespace orvane {
namespace {

using nlohmann::json;

TEST(Uuid, ParsesEitherCaseAndWritesCanonicalUpperCase) {
    const auto lower = Uuid::parse("0c6e8a4d-1b2f-4c3d-9e8f-123456789abc");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->text(), "0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC");
    EXPECT_EQ(lower, Uuid::parse("0C6E8A4D-1B2F-4C3D-9E8F-123456789abc"));
    for (const char* bad : {"", "0C6E8A4D1B2F4C3D9E8F123456789ABC", "{0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC}",
                            "0C6E8A4D-1B2F-4C3D-9E8F-123456789AB", "0C6E8A4D-1B2F-4C3D-9E8F-123456789ABG",
                            "0C6E8A4D-1B2F-4C3D-9E8F+123456789ABC", " 0C6E8A4D-1B2F-4C3D-9E8F-123456789AB"})
        EXPECT_FALSE(Uuid::parse(bad)) << bad;
}

TEST(GattUuid, KeepsTheStackFormsAndExpandsThemToTheFullForm) {
    struct Case {
        const char* text;
        const char* string;  // as the stack reports it
        const char* full;
    };
    const Case cases[] = {
        {"ffe0", "FFE0", "0000ffe0-0000-1000-8000-00805f9b34fb"},
        {"1234ABCD", "1234ABCD", "1234abcd-0000-1000-8000-00805f9b34fb"},
        {"0000ffe0", "FFE0", "0000ffe0-0000-1000-8000-00805f9b34fb"},  // a 16-bit value in 32-bit form
        {"0000FFE0-0000-1000-8000-00805F9B34FB", "FFE0", "0000ffe0-0000-1000-8000-00805f9b34fb"},
        {"1234abcd-0000-1000-8000-00805f9b34fb", "1234ABCD", "1234abcd-0000-1000-8000-00805f9b34fb"},
        {"00010203-0405-0607-0809-0a0b0c0d1910", "00010203-0405-0607-0809-0A0B0C0D1910",
         "00010203-0405-0607-0809-0a0b0c0d1910"},
    };
    for (const auto& c : cases) {
        const auto uuid = GattUuid::parse(c.text);
        ASSERT_TRUE(uuid) << c.text;
        EXPECT_EQ(uuid->string(), c.string) << c.text;
        EXPECT_EQ(full(*uuid), c.full) << c.text;
    }
    for (const char* bad : {"", "FFE", "FFE0F", "GGGG", "0000ffe000001000800000805f9b34fb", " ffe0"})
        EXPECT_FALSE(GattUuid::parse(bad)) << bad;
}

TEST(Hex, ReadsPairsWithTheSignRulesOfABase16Reader) {
    struct Case {
        const char* text;
        std::optional<Bytes> bytes;
    };
    const Case cases[] = {
        {"", Bytes{}},
        {"00ff7A", Bytes{0x00, 0xff, 0x7a}},
        {"AbCd", Bytes{0xab, 0xcd}},
        {"+1", Bytes{0x01}},
        {"+f", Bytes{0x0f}},
        {"-0", Bytes{0x00}},
        {"01-0+A", Bytes{0x01, 0x00, 0x0a}},
        {"-1", std::nullopt},
        {"+-", std::nullopt},
        {"-+", std::nullopt},
        {"1+", std::nullopt},
        {"abc", std::nullopt},
        {"zz", std::nullopt},
        {"0g", std::nullopt},
        {" 1", std::nullopt},
        {"0x", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(fromHex(c.text), c.bytes) << '"' << c.text << '"';
}

TEST(Hex, WritesTwoLowerCaseDigitsPerByte) {
    EXPECT_EQ(hex(Bytes{}), "");
    EXPECT_EQ(hex(Bytes{0x00, 0x0a, 0xff, 0x7b}), "000aff7b");
}

TEST(MessageFields, RequestNumbersThatDoNotFitCountAsAbsent) {
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    constexpr auto least = std::numeric_limits<std::int64_t>::min();
    struct Case {
        json value;
        std::int64_t number;
    };
    const Case cases[] = {
        {7, 7},
        {-7, -7},
        {7.9, 7},
        {-7.9, -7},
        {most, most},
        {least, least},
        {std::numeric_limits<std::uint64_t>::max(), 0},
        {9.3e18, 0},
        {-0x1p63, least},
        {0x1p63, 0},
        {1e300, 0},
        {std::numeric_limits<double>::infinity(), 0},
        {-std::numeric_limits<double>::infinity(), 0},
        {std::nan(""), 0},
        {"7", 0},
        {true, 0},
        {nullptr, 0},
        {json::array({7}), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(integerValue(c.value), c.number) << c.value.dump();
}

TEST(AdapterWords, StateWordsAndRefusalsOfThisPlatform) {
    struct Case {
        int state;
        const char* word;
        const char* refusal;
    };
    const Case cases[] = {
        {0, "unknown", "Bluetooth isn’t ready."},
        {1, "unknown", "Bluetooth isn’t ready."},
        {2, "unsupported", "This computer has no Bluetooth LE."},
        {3, "unauthorized",
         "Orvane isn’t allowed to use Bluetooth (add your user to the bluetooth group, or check the "
         "system's Bluetooth policy)."},
        {4, "off", "Bluetooth is off."},
        {5, "on", "Bluetooth isn’t ready."},
        {9, "unknown", "Bluetooth isn’t ready."},
    };
    for (const auto& c : cases) {
        const auto state = static_cast<ManagerState>(c.state);
        EXPECT_EQ(stateWord(state), c.word) << c.state;
        EXPECT_EQ(refusal(state), c.refusal) << c.state;
    }
    // No service to ask is not the same as no hardware: the user can start it.
    EXPECT_NE(refusal(ManagerState::unsupported, Absence::noService), refusal(ManagerState::unsupported));
    EXPECT_EQ(refusal(ManagerState::poweredOff, Absence::noService), "Bluetooth is off.");
}

}  // namespace
}  // namespace orvane
