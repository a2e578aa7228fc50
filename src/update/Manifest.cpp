#include "Manifest.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>

namespace orvane {

std::optional<ManifestOffer> readManifest(std::string_view body, std::string_view platform) {
    const auto json = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return std::nullopt;
    const auto entry = json.find(platform);
    if (entry == json.end() || !entry->is_object()) return std::nullopt;
    const auto version = entry->find("version"), file = entry->find("file"), sha256 = entry->find("sha256");
    if (version == entry->end() || !version->is_string() || file == entry->end() || !file->is_string() ||
        sha256 == entry->end() || !sha256->is_string())
        return std::nullopt;

    ManifestOffer offer;
    offer.version = version->get<std::string>();
    offer.file = file->get<std::string>();
    offer.sha256 = sha256->get<std::string>();
    std::transform(offer.sha256.begin(), offer.sha256.end(), offer.sha256.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // A whole number gives the size (12 and 12.0 alike); 12.5, text or
    // anything out of range counts as 0.
    const auto size = entry->find("size");
    if (size != entry->end()) {
        if (size->is_number_unsigned())
            offer.size =
                size->get<std::uint64_t>() > INT64_MAX ? 0 : static_cast<std::int64_t>(size->get<std::uint64_t>());
        else if (size->is_number_integer()) offer.size = size->get<std::int64_t>();
        else if (size->is_number_float()) {
            const double value = size->get<double>();
            if (value == std::floor(value) && value > -9.2e18 && value < 9.2e18)
                offer.size = static_cast<std::int64_t>(value);
        }
    }
    return offer;
}

bool validArchiveName(std::string_view file) {
    // "." and ".." would name the downloads folder or the page's own.
    if (file.find_first_not_of('.') == std::string_view::npos) return false;
    return std::all_of(file.begin(), file.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
               c == '-';
    });
}

}  // namespace orvane
