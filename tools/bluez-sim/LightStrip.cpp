#include "LightStrip.h"

#include <cstdio>
#include <cstring>

namespace bluezsim {
namespace {

constexpr std::uint8_t COMMAND = 0x33;
constexpr std::uint8_t QUERY = 0xaa;
constexpr std::uint8_t UPLOAD = 0xa3;
constexpr const char* FIRMWARE = "3.02.24";
constexpr const char* HARDWARE = "3.01.01";

std::string hexColour(const Segment& s) {
    char text[16];
    if (s.kelvin) std::snprintf(text, sizeof text, "%uK", unsigned(s.kelvin));
    else std::snprintf(text, sizeof text, "#%02x%02x%02x", s.r, s.g, s.b);
    return text;
}

}  // namespace

std::uint8_t checksum(const Bytes& f) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < FRAME_SIZE - 1 && i < f.size(); ++i) x ^= f[i];
    return x;
}

Bytes frame(std::initializer_list<std::uint8_t> head) {
    Bytes f(head);
    f.resize(FRAME_SIZE, 0);
    f[FRAME_SIZE - 1] = checksum(f);
    return f;
}

std::vector<Notification> LightStrip::written(const std::string& uuid, const Bytes& f) {
    if (uuid != LIGHT_CONTROL) return {};
    // A strip drops what it cannot trust: wrong size or a bad checksum.
    if (f.size() != FRAME_SIZE || f[FRAME_SIZE - 1] != checksum(f)) {
        ++state_.ignored;
        return {};
    }
    Bytes reply;
    bool known = false;
    switch (f[0]) {
    case COMMAND:
        known = command(f);
        if (known && acks_) reply = frame({COMMAND, f[1]});
        break;
    case QUERY: known = query(f, reply); break;
    case UPLOAD:
        known = upload(f);
        if (known && acks_ && f[1] == 0xff) reply = frame({UPLOAD, 0x02});
        break;
    default: break;
    }
    if (!known) {
        ++state_.ignored;
        return {};
    }
    ++state_.accepted;
    if (reply.empty()) return {};
    return {Notification{LIGHT_REPLIES, std::move(reply)}};
}

bool LightStrip::command(const Bytes& f) {
    switch (f[1]) {
    case 0x01:  // power
        if (f[2] > 1) return false;
        state_.power = f[2] == 1;
        return true;
    case 0x04:  // whole-strip brightness, percent
        if (f[2] > 100) return false;
        state_.brightness = f[2];
        return true;
    case 0x05:
        if (f[2] == 0x15 && f[3] == 0x01) {  // colour or white for the masked segments
            Segment s;
            s.kelvin = std::uint16_t(f[7] << 8 | f[8]);
            if (s.kelvin) {
                s.r = f[9], s.g = f[10], s.b = f[11];  // the white's rendered preview
            } else {
                s.r = f[4], s.g = f[5], s.b = f[6];
            }
            paint(std::uint16_t(f[12] | f[13] << 8), s);
            state_.mode = "static";
            return true;
        }
        if (f[2] == 0x15 && f[3] == 0x02) {  // brightness of the masked segments
            if (f[4] > 100) return false;
            const auto mask = std::uint16_t(f[5] | f[6] << 8);
            for (std::size_t i = 0; i < SEGMENTS; ++i)
                if (mask & (1u << i)) state_.segments[i].brightness = f[4];
            return true;
        }
        if (f[2] == 0x04) {  // scene code, little-endian
            state_.scene = std::uint16_t(f[3] | f[4] << 8);
            state_.mode = "scene";
            return true;
        }
        if (f[2] == 0x13) {  // music mode and its parameters
            state_.music.assign(f.begin() + 3, f.end() - 1);
            while (!state_.music.empty() && state_.music.back() == 0) state_.music.pop_back();
            state_.mode = "music";
            return true;
        }
        return false;
    case 0x09:  // the app's clock; nothing to show
        return true;
    default: return false;
    }
}

bool LightStrip::query(const Bytes& f, Bytes& reply) {
    switch (f[1]) {
    case 0x01:  // power; the app's keep-alive too
        ++state_.keepAlives;
        reply = frame({QUERY, 0x01, std::uint8_t(state_.power)});
        return true;
    case 0x04: reply = frame({QUERY, 0x04, state_.brightness}); return true;
    case 0x05: {
        const Segment& s = state_.segments[0];
        if (state_.mode == "scene") {
            reply = frame({QUERY, 0x05, 0x04, std::uint8_t(state_.scene & 0xff), std::uint8_t(state_.scene >> 8)});
        } else if (state_.mode == "music") {
            reply = frame({QUERY, 0x05, 0x13});
            for (std::size_t i = 0; i < state_.music.size() && 3 + i < FRAME_SIZE - 1; ++i)
                reply[3 + i] = state_.music[i];
            reply[FRAME_SIZE - 1] = checksum(reply);
        } else {
            reply = frame(
                {QUERY, 0x05, 0x15, 0x01, s.r, s.g, s.b, std::uint8_t(s.kelvin >> 8), std::uint8_t(s.kelvin & 0xff)});
        }
        return true;
    }
    case 0x06:
    case 0x07: {
        const char* version = f[1] == 0x06 ? FIRMWARE : HARDWARE;
        reply = frame({QUERY, f[1]});
        std::memcpy(reply.data() + 2, version, std::strlen(version));
        reply[FRAME_SIZE - 1] = checksum(reply);
        return true;
    }
    case 0x40: reply = frame({QUERY, 0x40, std::uint8_t(SEGMENTS)}); return true;
    case 0xa5: {  // three segments per group, groups 1..5
        const std::uint8_t group = f[2];
        if (group < 1 || group > SEGMENTS / 3) return false;
        reply = frame({QUERY, 0xa5, group});
        for (std::size_t k = 0; k < 3; ++k) {
            const Segment& s = state_.segments[std::size_t(group - 1) * 3 + k];
            std::uint8_t* at = reply.data() + 3 + 4 * k;
            at[0] = s.brightness, at[1] = s.r, at[2] = s.g, at[3] = s.b;
        }
        reply[FRAME_SIZE - 1] = checksum(reply);
        return true;
    }
    default: return false;
    }
}

bool LightStrip::upload(const Bytes& f) {
    // Frames carry 17 bytes each; index 0 starts a blob, 0xff ends it.
    if (f[1] == 0x00) blob_.clear();
    blob_.insert(blob_.end(), f.begin() + 2, f.end() - 1);
    if (f[1] == 0xff) {
        ++state_.uploads;
        blob_.clear();
    }
    return true;
}

void LightStrip::paint(std::uint16_t mask, const Segment& colour) {
    for (std::size_t i = 0; i < SEGMENTS; ++i) {
        if (!(mask & (1u << i))) continue;
        Segment& s = state_.segments[i];
        const std::uint8_t brightness = s.brightness;
        s = colour;
        s.brightness = brightness;
    }
}

std::string LightStrip::describe(bool colour) const {
    std::string line = state_.power ? "on" : "off";
    line += ", brightness " + std::to_string(state_.brightness) + "%, ";
    if (state_.mode == "scene") {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04x", unsigned(state_.scene));
        line += std::string("scene ") + code;
    } else if (state_.mode == "music") {
        line += "music mode " + std::to_string(state_.music.empty() ? 0 : state_.music[0]);
    } else {
        bool same = true;
        for (auto& s : state_.segments) same = same && s == state_.segments[0];
        if (same) {
            line += hexColour(state_.segments[0]) + " on all segments";
        } else {
            line += "segments";
            for (auto& s : state_.segments)
                line += " " + hexColour(s) + (s.brightness != 100 ? "@" + std::to_string(s.brightness) + "%" : "");
        }
    }
    if (colour && state_.mode == "static") {
        // The strip itself, as coloured blocks on a terminal that can show them.
        line += "  ";
        for (auto& s : state_.segments) {
            const unsigned scale = state_.power ? unsigned(state_.brightness) * s.brightness : 0;
            char block[48];
            std::snprintf(block, sizeof block, "\033[38;2;%u;%u;%um\u2588\u2588", s.r * scale / 10000,
                          s.g * scale / 10000, s.b * scale / 10000);
            line += block;
        }
        line += "\033[0m";
    }
    return line;
}

}  // namespace bluezsim
