#include <cstdio>

#include "DeviceModel.h"
#include "LightStrip.h"
#include "Settings.h"

namespace bluezsim {
namespace {

std::string base(const char* shortUuid) { return std::string("0000") + shortUuid + "-0000-1000-8000-00805f9b34fb"; }

DeviceModel light(const Settings& settings) {
    DeviceModel d;
    d.address = LIGHT_ADDRESS;
    d.addressType = "public";
    d.name = "ihoment_H617C_1C7A";  // prefix, model, last two address bytes
    d.rssi = -58;
    d.manufacturerData[0x8802] = {0xec, 0x00, 0x01, 0x01, 0x00, 0x00};
    d.services = {
        {LIGHT_SERVICE,
         0x000e,
         {{LIGHT_REPLIES, 0x000f, {"read", "notify"}, Bytes{}},
          {LIGHT_CONTROL, 0x0013, {"read", "write-without-response", "write"}, Bytes{}}}},
    };
    const bool acks = settings.acks;
    d.behaviour = [acks] { return std::make_unique<LightStrip>(acks); };
    return d;
}

DeviceModel sensor() {
    DeviceModel d;
    d.address = SENSOR_ADDRESS;
    d.addressType = "random";
    d.name = "HRM 7B2F";
    d.rssi = -71;
    d.txPower = 4;
    d.uuids = {base("180d"), base("180f")};
    d.appearance = 0x0341;  // heart rate belt
    d.serviceData[base("180f")] = {0x5a};
    d.services = {
        {base("180d"),
         0x0010,
         {{base("2a37"), 0x0011, {"notify"}, std::nullopt},
          {base("2a38"), 0x0014, {"read"}, Bytes{0x01}},
          {base("2a39"), 0x0016, {"write"}, std::nullopt}}},
        {base("180f"), 0x0018, {{base("2a19"), 0x0019, {"read", "notify"}, Bytes{0x5a}}}},
        {base("180a"),
         0x001c,
         {{base("2a29"), 0x001d, {"read"}, Bytes{'O', 'r', 'v', 'a', 'n', 'e'}},
          {base("2a24"), 0x001f, {"read", "indicate"}, Bytes{'H', 'R', '-', '1'}}}},
    };
    return d;
}

DeviceModel beacon() {
    DeviceModel d;
    d.address = BEACON_ADDRESS;
    d.addressType = "random";
    d.rssi = -84;
    d.txPower = -12;
    d.discoverable = false;  // only a filtered discovery reports it
    d.connectable = false;
    d.manufacturerData[0x0059] = {0x02, 0x15, 0x01, 0x02, 0x03, 0x04};
    return d;
}

}  // namespace

std::vector<DeviceModel> catalogue(const Settings& settings) { return {light(settings), sensor(), beacon()}; }

DeviceModel floodDevice(unsigned index, unsigned intervalMs) {
    DeviceModel d;
    char text[32];
    std::snprintf(text, sizeof text, "C0:0D:00:%02X:%02X:%02X", (index >> 16) & 0xff, (index >> 8) & 0xff,
                  index & 0xff);
    d.address = text;
    d.addressType = "random";
    std::snprintf(text, sizeof text, "Flood %04u", index);
    d.name = text;
    d.rssi = std::int16_t(-60 - int(index % 30));
    d.connectable = false;
    d.flood = true;
    d.intervalMs = intervalMs;
    d.manufacturerData[0xffff] = {std::uint8_t(index & 0xff), std::uint8_t(index >> 8 & 0xff)};
    return d;
}

}  // namespace bluezsim
