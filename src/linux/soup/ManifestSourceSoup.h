#pragma once
// The manifest fetch over libsoup: one session shared by the process, no
// cache (the session has none, so every fetch goes to the server), and a
// time-out after which the fetch ends with "The request timed out.".

#include <libsoup/soup.h>

#include <memory>
#include <vector>

#include "GRef.h"
#include "MainQueue.h"
#include "UpdaterParts.h"

namespace orvane {

class HttpGet;

class ManifestSourceSoup final : public ManifestSource {
public:
    // Far more than any manifest; a larger body counts as unreadable.
    static constexpr std::size_t kMaxBytes = 1 << 20;

    explicit ManifestSourceSoup(MainQueue& queue);
    ~ManifestSourceSoup() override;

    void fetch(const Url& url, double timeoutSeconds, std::function<void(ManifestResponse)> done) override;

    // The process's shared session for small requests.
    static SoupSession* sharedSession();

private:
    MainQueue& queue_;
    std::vector<std::weak_ptr<HttpGet>> fetches_;
};

}  // namespace orvane
