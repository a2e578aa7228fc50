#pragma once
// Scriptable stand-ins for the updater's platform pieces: the test decides
// when and how each fetch and download ends, and sees what was asked for.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Updater.h"

namespace orvane::testing {

class ManifestSourceFake final : public ManifestSource {
public:
    struct Fetch {
        Url url;
        double timeout = 0;
        std::function<void(ManifestResponse)> done;
    };
    void fetch(const Url& url, double timeoutSeconds, std::function<void(ManifestResponse)> done) override {
        fetches->push_back({url, timeoutSeconds, std::move(done)});
    }
    // Shared with the test, which keeps it after the updater took the source.
    std::shared_ptr<std::vector<Fetch>> fetches = std::make_shared<std::vector<Fetch>>();
};

class ArchiveSessionFake final : public ArchiveSession {
public:
    struct Download {
        Url url;
        std::filesystem::path file;
        std::int64_t maxBytes = 0;
        DownloadCallbacks callbacks;
        bool cancelled = false;
    };
    explicit ArchiveSessionFake(std::shared_ptr<std::vector<Download>> record) : downloads(std::move(record)) {}
    void download(const Url& url, const std::filesystem::path& file, std::int64_t maxBytes,
                  DownloadCallbacks callbacks) override {
        downloads->push_back({url, file, maxBytes, std::move(callbacks)});
    }
    void cancel() override {
        for (auto& download : *downloads) download.cancelled = true;
    }
    std::shared_ptr<std::vector<Download>> downloads;
};

// Everything an updater under test reports and asks of its platform.
struct UpdaterRecord {
    std::vector<nlohmann::json> events;
    std::vector<std::string> log;
    std::vector<std::pair<std::filesystem::path, std::string>> installs;  // staging folder, version
    std::vector<std::filesystem::path> stagingsMade, stagingsDropped;
    std::vector<RelaunchTask> relaunches;
    int sessionsMade = 0;
    int quits = 0;

    std::vector<std::string> states() const {
        std::vector<std::string> out;
        for (const auto& event : events) out.push_back(event.value("state", ""));
        return out;
    }
    std::string lastError() const { return events.empty() ? "" : events.back().value("error", ""); }
};

}  // namespace orvane::testing
