#include "SignedBundles.h"

#include <algorithm>
#include <stdexcept>

#include "ToolTesting.h"

namespace orvane::testing {

namespace fs = std::filesystem;

std::string infoPlist(const std::string& identifier, const std::string& version) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "\t<key>CFBundleIdentifier</key>\n\t<string>" +
           identifier +
           "</string>\n"
           "\t<key>CFBundleName</key>\n\t<string>Orvane</string>\n"
           "\t<key>CFBundleShortVersionString</key>\n\t<string>" +
           version +
           "</string>\n"
           "\t<key>CFBundleExecutable</key>\n\t<string>orvane</string>\n</dict>\n</plist>\n";
}

void makeBundle(const fs::path& bundle, const std::string& identifier, const std::string& version,
                const std::string& executable) {
    fs::create_directories(bundle / "Contents/Linux");
    fs::create_directories(bundle / "Contents/Resources");
    writeText(bundle / "Contents/Info.plist", infoPlist(identifier, version));
    fs::copy_file(STAND_IN, bundle / "Contents/Linux/orvane", fs::copy_options::overwrite_existing);
    writeText(bundle / "Contents/Resources/run.sh", executable);
    fs::permissions(bundle / "Contents/Linux/orvane", fs::perms::owner_all | fs::perms::group_read |
                                                          fs::perms::group_exec | fs::perms::others_read |
                                                          fs::perms::others_exec);
    writeText(bundle / "Contents/Resources/bridge.js", "window.__orvane = {version: \"" + version + "\"};\n");
    fs::create_symlink("bridge.js", bundle / "Contents/Resources/current.js");
}

void signBundle(const fs::path& bundle, const std::string& secretKey) {
    const std::string key = secretKey.empty() ? std::string(SIGNING_KEY) : secretKey;
    if (run({CODESIGN, "--sign", key, bundle.string()}) != 0)
        throw std::runtime_error("cannot sign " + bundle.string());
}

std::vector<ZipItem> zipItems(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it)
        paths.push_back(it->path());
    std::sort(paths.begin(), paths.end());
    std::vector<ZipItem> items;
    for (const auto& path : paths) {
        ZipItem item;
        item.name = prefix + path.lexically_relative(folder).string();
        const auto status = fs::symlink_status(path);
        if (fs::is_symlink(status)) {
            item.kind = ZipItem::Kind::Link;
            item.data = fs::read_symlink(path).string();
        } else if (fs::is_directory(status)) {
            item.kind = ZipItem::Kind::Folder;
        } else {
            const bool exec = (status.permissions() & fs::perms::owner_exec) != fs::perms::none;
            item.kind = exec ? ZipItem::Kind::Executable : ZipItem::Kind::File;
            item.data = readText(path);
        }
        items.push_back(std::move(item));
    }
    return items;
}

std::string zipBytes(const std::vector<ZipItem>& items) {
    TempDir dir;
    writeZip(dir / "a.zip", items);
    return readText(dir / "a.zip");
}

fs::path otherKey(const fs::path& folder) {
    fs::path key = folder / "other.key";
    if (run({MINISIGN, "-G", "-W", "-f", "-p", (folder / "other.pub").string(), "-s", key.string()}) != 0)
        throw std::runtime_error("cannot make a key");
    return key;
}

}  // namespace orvane::testing
