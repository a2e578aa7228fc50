#include "UpdateTexts.h"

namespace orvane {

std::string undoneMessage(const nlohmann::json& record) {
    auto number = [&](const char* key) -> std::optional<long long> {
        const auto found = record.find(key);
        if (found == record.end() || !found->is_number_integer()) return std::nullopt;
        return found->get<long long>();
    };
    if (auto ends = number("ended"))
        return std::string(updateSentences::undoneKeptEnding) + std::to_string(*ends) +
               std::string(updateSentences::undoneInARow);
    std::string reason;
    if (auto status = number("exit")) reason = std::string(updateSentences::undoneExited) + std::to_string(*status);
    else if (auto signal = number("signal"))
        reason = std::string(updateSentences::undoneSignalled) + std::to_string(*signal);
    else if (auto seconds = number("timeout"))
        reason = std::string(updateSentences::undoneTimedOut) + std::to_string(*seconds) +
                 std::string(updateSentences::undoneSeconds);
    else reason = updateSentences::undoneNotStarted;
    return std::string(updateSentences::undone) + " (" + reason + ").";
}

}  // namespace orvane
