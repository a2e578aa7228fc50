#include "ZipBuilder.h"

#include "ToolTesting.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>

namespace orvane::testing {
namespace {

constexpr char CENTRAL_SIGNATURE[] = "PK\x01\x02";

std::uint32_t read16(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
}

void write32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

// Calls `change` with the offset of `name`'s central directory header.
void patchCentral(const std::filesystem::path& zip, const std::string& name,
                  const std::function<void(std::string&, std::size_t)>& change) {
    std::string bytes = readText(zip);
    for (auto at = bytes.find(CENTRAL_SIGNATURE, 0, 4); at != std::string::npos;
         at = bytes.find(CENTRAL_SIGNATURE, at + 4, 4)) {
        auto length = read16(bytes, at + 28);
        if (bytes.compare(at + 46, length, name) == 0) {
            change(bytes, at);
            writeText(zip, bytes);
            return;
        }
    }
    throw std::runtime_error("no central directory entry " + name);
}

// Zip writers refuse fifos and devices, but a reader takes the type from the
// Unix mode in the central directory's external attributes.
void patchMode(const std::filesystem::path& zip, const std::string& name, std::uint32_t mode) {
    patchCentral(zip, name, [mode](std::string& bytes, std::size_t at) { write32(bytes, at + 38, mode << 16); });
}

}  // namespace

void writeZip(const std::filesystem::path& zip, const std::vector<ZipItem>& items) {
    std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(a.get());
    if (archive_write_open_filename(a.get(), zip.c_str()) != ARCHIVE_OK) throw std::runtime_error("cannot write zip");
    for (const auto& item : items) {
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), item.name.c_str());
        archive_entry_set_mtime(entry.get(), 1'700'000'000, 0);
        bool content = true;
        switch (item.kind) {
        case ZipItem::Kind::Folder:
            archive_entry_set_filetype(entry.get(), AE_IFDIR);
            archive_entry_set_perm(entry.get(), 0755);
            content = false;
            break;
        case ZipItem::Kind::Link:
            archive_entry_set_filetype(entry.get(), AE_IFLNK);
            archive_entry_set_perm(entry.get(), 0777);
            archive_entry_set_symlink(entry.get(), item.data.c_str());
            content = false;
            break;
        case ZipItem::Kind::Executable:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0755);
            break;
        default:
            archive_entry_set_filetype(entry.get(), AE_IFREG);
            archive_entry_set_perm(entry.get(), 0644);
            break;
        }
        archive_entry_set_size(entry.get(), content ? static_cast<la_int64_t>(item.data.size()) : 0);
        if (archive_write_header(a.get(), entry.get()) != ARCHIVE_OK)
            throw std::runtime_error(std::string("zip header: ") + archive_error_string(a.get()));
        if (content && !item.data.empty() &&
            archive_write_data(a.get(), item.data.data(), item.data.size()) !=
                static_cast<la_ssize_t>(item.data.size()))
            throw std::runtime_error("zip data");
    }
    if (archive_write_close(a.get()) != ARCHIVE_OK) throw std::runtime_error("cannot finish zip");
    a.reset();
    for (const auto& item : items) {
        if (item.kind == ZipItem::Kind::Fifo) patchMode(zip, item.name, S_IFIFO | 0644);
        if (item.kind == ZipItem::Kind::CharDevice) patchMode(zip, item.name, S_IFCHR | 0644);
    }
}

void patchDeclaredSize(const std::filesystem::path& zip, const std::string& name, std::uint32_t size) {
    patchCentral(zip, name, [size](std::string& bytes, std::size_t at) { write32(bytes, at + 24, size); });
    // The local header too, so that both agree and only the size is absurd.
    std::string bytes = readText(zip);
    for (auto at = bytes.find("PK\x03\x04", 0, 4); at != std::string::npos; at = bytes.find("PK\x03\x04", at + 4, 4)) {
        if (bytes.compare(at + 30, read16(bytes, at + 26), name) == 0) {
            write32(bytes, at + 22, size);
            writeText(zip, bytes);
            return;
        }
    }
    throw std::runtime_error("no local header " + name);
}

}  // namespace orvane::testing
