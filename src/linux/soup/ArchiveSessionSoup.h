#pragma once
// The archive download over its own libsoup session: no cache, no cookie jar,
// nothing kept between runs. The body goes chunk by chunk to the file it is
// given and through SHA-256 on the way, so nothing of it stays in memory and
// the digest is ready when the last byte is.

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
    ArchiveSessionSoup();
    ~ArchiveSessionSoup() override;

    void download(const Url& url, const std::filesystem::path& file, std::int64_t maxBytes,
                  DownloadCallbacks callbacks) override;
    void cancel() override;

private:
    GPtr<SoupSession> session_;
    std::vector<std::weak_ptr<HttpGet>> downloads_;
};

}  // namespace orvane
