// The first look at a downloaded zip archive's central directory.
#include "FuzzInput.h"
#include "MemoryFile.h"
#include "ZipDirectory.h"

using namespace orvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemoryFile file;
    file.write(data, size);
    (void)checkZipDirectory(file.fd(), 1000);
    return 0;
}
