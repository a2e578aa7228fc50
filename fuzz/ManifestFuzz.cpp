// The update manifest (downloads/app.json) as any server may send it.
#include "FuzzInput.h"
#include "Manifest.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto body = fuzz::text(data, size);
    if (const auto offer = readManifest(body, "linux")) {
        (void)validArchiveName(offer->file);
    }
    (void)validArchiveName(body);
    return 0;
}
