#pragma once
// The RGBIC light strip the control page drives: 20-byte frames with an XOR
// checksum on the control characteristic, replies as notifications on the
// reply characteristic. docs/light-protocol.md describes the frames.

#include <array>
#include <cstdint>
#include <string>

#include "Peripheral.h"

namespace bluezsim {

inline constexpr const char* LIGHT_SERVICE = "00010203-0405-0607-0809-0a0b0c0d1910";
inline constexpr const char* LIGHT_CONTROL = "00010203-0405-0607-0809-0a0b0c0d2b11";
inline constexpr const char* LIGHT_REPLIES = "00010203-0405-0607-0809-0a0b0c0d2b10";
inline constexpr std::size_t FRAME_SIZE = 20;
inline constexpr std::size_t SEGMENTS = 15;

// Byte 19 of a frame: the XOR of bytes 0..18.
std::uint8_t checksum(const Bytes& frame);
// A full frame from its leading bytes: zero-padded, checksum added.
Bytes frame(std::initializer_list<std::uint8_t> head);

struct Segment {
    std::uint8_t r = 255, g = 255, b = 255;
    std::uint8_t brightness = 100;  // percent
    std::uint16_t kelvin = 0;       // 0: a colour, else a white of this temperature
    bool operator==(const Segment&) const = default;
};

struct LightState {
    bool power = false;
    std::uint8_t brightness = 100;  // percent
    std::string mode = "static";    // "static", "scene" or "music"
    std::array<Segment, SEGMENTS> segments{};
    std::uint16_t scene = 0;
    Bytes music;                 // the music frame's parameters
    std::uint32_t accepted = 0;  // valid frames acted on or answered
    std::uint32_t ignored = 0;   // frames dropped: wrong size or checksum, unknown
    std::uint32_t keepAlives = 0;
    std::uint32_t uploads = 0;  // completed multi-frame uploads
};

class LightStrip final : public Peripheral {
public:
    // `acks`: answer every command frame with an empty frame of its kind, as
    // some strips of the family do.
    explicit LightStrip(bool acks = false) : acks_(acks) {}

    std::vector<Notification> written(const std::string& uuid, const Bytes& value) override;
    std::string describe(bool colour) const override;
    const LightState& state() const { return state_; }

private:
    bool command(const Bytes& f);              // 0x33
    bool query(const Bytes& f, Bytes& reply);  // 0xaa
    bool upload(const Bytes& f);               // 0xa3
    void paint(std::uint16_t mask, const Segment& colour);

    bool acks_;
    LightState state_;
    Bytes blob_;  // multi-frame upload in progress
};

}  // namespace bluezsim
