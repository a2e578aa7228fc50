#pragma once
// An input as a file, for readers that take a path or a descriptor: an
// anonymous memory file, rewritten for each input.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace orvane::fuzz {

class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("fuzz-input", 0)) {
        if (fd_ < 0) std::abort();
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Replaces the file's content with the input.
    void write(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const auto wrote = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (wrote <= 0) std::abort();
            done += static_cast<std::size_t>(wrote);
        }
    }
    int fd() const { return fd_; }
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

}  // namespace orvane::fuzz
