#include "CodeResources.h"

#include <algorithm>
#include <charconv>
#include <set>

namespace orvane {
namespace {

constexpr std::string_view HEADER = "orvane-code-resources 1";

bool needsEscape(unsigned char byte) { return byte <= 0x20 || byte == '%' || byte == 0x7f; }

std::string escape(std::string_view raw) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(raw.size());
    for (char c : raw) {
        auto byte = static_cast<unsigned char>(c);
        if (needsEscape(byte)) {
            out.push_back('%');
            out.push_back(digits[byte >> 4]);
            out.push_back(digits[byte & 0x0f]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

int upperHexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte != '%') {
            if (needsEscape(byte)) return std::nullopt;
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = upperHexValue(text[i + 1]);
        int low = upperHexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        auto decoded = static_cast<unsigned char>(high * 16 + low);
        if (!needsEscape(decoded) || decoded == 0) return std::nullopt;
        out.push_back(static_cast<char>(decoded));
        i += 2;
    }
    return out;
}

bool validPath(std::string_view path) {
    if (path.empty() || path.size() > 4096) return false;
    std::size_t start = 0;
    while (true) {
        auto end = path.find('/', start);
        auto part = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part.empty() || part == "." || part == ".." || part.size() > 255) return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

bool validDigest(std::string_view text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::optional<std::uint64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 19 || (text.size() > 1 && text[0] == '0')) return std::nullopt;
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (true) {
        auto end = line.find('\t', start);
        if (end == std::string_view::npos) {
            out.push_back(line.substr(start));
            return out;
        }
        out.push_back(line.substr(start, end - start));
        start = end + 1;
    }
}

std::optional<CodeResource> parseLine(std::string_view line) {
    auto parts = fields(line);
    if (parts.size() < 2) return std::nullopt;
    CodeResource entry;
    auto path = unescape(parts[1]);
    if (!path || !validPath(*path)) return std::nullopt;
    entry.path = std::move(*path);
    if (parts[0] == "dir" && parts.size() == 2) {
        entry.kind = CodeResource::Kind::Directory;
    } else if ((parts[0] == "file" || parts[0] == "exec") && parts.size() == 4) {
        entry.kind = parts[0] == "file" ? CodeResource::Kind::File : CodeResource::Kind::Executable;
        auto size = decimal(parts[2]);
        if (!size || !validDigest(parts[3])) return std::nullopt;
        entry.size = *size;
        entry.sha256 = std::string(parts[3]);
    } else if (parts[0] == "link" && parts.size() == 3) {
        entry.kind = CodeResource::Kind::Link;
        auto target = unescape(parts[2]);
        if (!target || target->empty() || target->size() > 4096) return std::nullopt;
        entry.target = std::move(*target);
    } else {
        return std::nullopt;
    }
    return entry;
}

std::string_view parentOf(std::string_view path) {
    auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

}  // namespace

const char* kindName(CodeResource::Kind kind) {
    switch (kind) {
    case CodeResource::Kind::Directory: return "dir";
    case CodeResource::Kind::File: return "file";
    case CodeResource::Kind::Executable: return "exec";
    case CodeResource::Kind::Link: return "link";
    }
    return "?";
}

std::string formatCodeResources(const std::vector<CodeResource>& entries) {
    std::string text(HEADER);
    text.push_back('\n');
    for (const auto& entry : entries) {
        text += kindName(entry.kind);
        text += '\t';
        text += escape(entry.path);
        switch (entry.kind) {
        case CodeResource::Kind::Directory: break;
        case CodeResource::Kind::File:
        case CodeResource::Kind::Executable:
            text += '\t';
            text += std::to_string(entry.size);
            text += '\t';
            text += entry.sha256;
            break;
        case CodeResource::Kind::Link:
            text += '\t';
            text += escape(entry.target);
            break;
        }
        text += '\n';
    }
    return text;
}

std::optional<std::vector<CodeResource>> parseCodeResources(std::string_view text, std::string& problem) {
    auto fail = [&problem](std::string why) -> std::optional<std::vector<CodeResource>> {
        problem = std::move(why);
        return std::nullopt;
    };
    if (text.size() > CODE_RESOURCES_MAX_BYTES) return fail("CodeResources is too large");
    if (text.empty() || text.back() != '\n') return fail("CodeResources does not end with a line end");
    text.remove_suffix(1);

    std::vector<CodeResource> entries;
    std::set<std::string, std::less<>> directories;
    std::size_t number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        auto line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (number == 1) {
            if (line != HEADER) return fail("CodeResources has an unknown header");
            continue;
        }
        if (entries.size() >= CODE_RESOURCES_MAX_ENTRIES) return fail("CodeResources lists too many entries");
        auto entry = parseLine(line);
        if (!entry) return fail("CodeResources line " + std::to_string(number) + " is malformed");
        if (!entries.empty() && !(entries.back().path < entry->path))
            return fail("CodeResources line " + std::to_string(number) + " is out of order or repeated");
        auto parent = parentOf(entry->path);
        if (!parent.empty() && !directories.contains(parent))
            return fail("CodeResources line " + std::to_string(number) + " has no listed parent folder");
        if (entry->kind == CodeResource::Kind::Directory) directories.insert(entry->path);
        entries.push_back(std::move(*entry));
    }
    return entries;
}

}  // namespace orvane
