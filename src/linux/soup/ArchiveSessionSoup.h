#pragma once
// The archive download over its own libsoup session: no cache, no cookie jar,
// nothing kept between runs. The body goes to an unnamed temporary file (it
// never shows in the file system and goes away with its descriptor), which is
// readable only while `finished` runs.

#include <libsoup/soup.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "GRef.h"
#include "UpdaterParts.h"

namespace orvane {

class HttpGet;

class ArchiveSessionSoup final : public ArchiveSession {
public:
    // Far beyond any bundle of ours; the rest is not downloaded.
    static constexpr std::int64_t kMaxBytes = std::int64_t(1) << 30;

    ArchiveSessionSoup();
    ~ArchiveSessionSoup() override;

    void download(const Url& url, DownloadCallbacks callbacks) override;

private:
    GPtr<SoupSession> session_;
    std::vector<std::weak_ptr<HttpGet>> downloads_;
};

// The whole of an open file, read from its start; nothing on a read error.
std::optional<std::string> readWhole(int fd);

}  // namespace orvane
