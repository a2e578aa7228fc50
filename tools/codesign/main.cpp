// codesign: checks and makes the signature of an application bundle.
//
//   codesign --verify [--deep] [--strict] APP   exit 0 only when the bundle is sealed
//   codesign --sign SECRETKEY APP               write CodeResources and sign it
//
// Checking is always deep and strict: CodeResources must carry a valid
// prehashed minisign signature under the public key built into this program
// (never one found in the bundle), and the bundle must hold exactly the
// entries it lists. Signing writes CodeResources and has the stock minisign
// tool sign it, so the secret key may be password protected.
// Exit status: 0 success, 1 failure, 2 wrong arguments.

#include "BundleScan.h"
#include "CodeResources.h"
#include "Minisign.h"
#include "Spawn.h"
#include "UniqueFd.h"
#include "WriteAll.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace orvane;

constexpr int OK = 0;
constexpr int FAILED = 1;
constexpr int USAGE = 2;
constexpr std::size_t MAX_DIFFERENCES_SHOWN = 20;

int usage() {
    std::fputs(
        "usage: codesign --verify [--deep] [--strict] APP\n"
        "       codesign --sign SECRETKEY APP\n",
        stderr);
    return USAGE;
}

int problem(const std::string& app, const std::string& what) {
    std::fprintf(stderr, "codesign: %s: %s\n", app.c_str(), what.c_str());
    return FAILED;
}

// A folder below `root`, each component opened without following links.
UniqueFd openFolder(int root, std::string_view relative) {
    UniqueFd current(::dup(root));
    std::size_t start = 0;
    while (current.get() >= 0 && start < relative.size()) {
        auto end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        std::string part(relative.substr(start, end - start));
        current = UniqueFd(::openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        start = end + 1;
    }
    return current;
}

// The whole of a regular file below `root`, refused beyond `cap` bytes.
std::optional<std::string> readCapped(int root, std::string_view relative, std::size_t cap, std::string& why) {
    auto slash = relative.rfind('/');
    UniqueFd folder = openFolder(root, relative.substr(0, slash));
    std::string name(relative.substr(slash + 1));
    UniqueFd fd(
        folder.get() < 0 ? -1 : ::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        why = std::string(relative) + " is missing";
        return std::nullopt;
    }
    if (static_cast<std::uint64_t>(info.st_size) > cap) {
        why = std::string(relative) + " is too large";
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    while (true) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            why = std::string(relative) + " cannot be read: " + std::strerror(errno);
            return std::nullopt;
        }
        if (got == 0) return text;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > cap) {
            why = std::string(relative) + " is too large";
            return std::nullopt;
        }
    }
}

std::string describe(const CodeResource& entry) {
    std::string text = std::string(kindName(entry.kind));
    if (entry.kind == CodeResource::Kind::Link) text += " to " + entry.target;
    if (entry.kind == CodeResource::Kind::File || entry.kind == CodeResource::Kind::Executable)
        text += ", " + std::to_string(entry.size) + " bytes, sha256 " + entry.sha256;
    return text;
}

// Every difference between the sealed list and the bundle, for people.
std::vector<std::string> differences(const std::vector<CodeResource>& sealed, const std::vector<CodeResource>& found) {
    std::map<std::string_view, const CodeResource*> expected;
    for (const auto& entry : sealed) expected.emplace(entry.path, &entry);
    std::vector<std::string> out;
    for (const auto& entry : found) {
        auto it = expected.find(entry.path);
        if (it == expected.end()) {
            out.push_back(entry.path + ": not sealed (" + describe(entry) + ")");
            continue;
        }
        if (!(*it->second == entry))
            out.push_back(entry.path + ": sealed as " + describe(*it->second) + ", found " + describe(entry));
        expected.erase(it);
    }
    for (const auto& [path, entry] : expected)
        out.push_back(std::string(path) + ": missing (" + describe(*entry) + ")");
    return out;
}

int verify(const std::string& app) {
    UniqueFd root(::open(app.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (root.get() < 0) return problem(app, std::string("not a folder: ") + std::strerror(errno));

    auto key = MinisignKey::parse(ORVANE_SIGNING_PUBKEY_LINE);
    if (!key) return problem(app, "the built-in public key is unusable");

    std::string why;
    auto resources = readCapped(root.get(), CODE_RESOURCES_PATH, CODE_RESOURCES_MAX_BYTES, why);
    if (!resources) return problem(app, "not signed: " + why);
    auto signature = readCapped(root.get(), CODE_SIGNATURE_PATH, MINISIGN_MAX_SIGNATURE, why);
    if (!signature) return problem(app, "not signed: " + why);

    // The list is checked and parsed from the same bytes, read once.
    auto check = verifyMinisign(*key, {reinterpret_cast<const unsigned char*>(resources->data()), resources->size()},
                                *signature);
    if (!check.valid) return problem(app, "invalid signature: " + check.problem);
    auto sealed = parseCodeResources(*resources, why);
    if (!sealed) return problem(app, why);

    std::vector<CodeResource> found;
    try {
        found = scanBundle(root.get());
    } catch (const ScanError& error) {
        return problem(app, error.what());
    }
    auto mismatches = differences(*sealed, found);
    if (mismatches.empty()) return OK;
    for (std::size_t i = 0; i < mismatches.size() && i < MAX_DIFFERENCES_SHOWN; ++i) problem(app, mismatches[i]);
    return problem(app, "the bundle does not match its signature");
}

int runMinisign(const std::vector<std::string>& arguments) { return spawnAndWait(arguments, SpawnOptions::searched()); }

int sign(const std::string& secretKey, const std::string& app) {
    UniqueFd root(::open(app.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (root.get() < 0) return problem(app, std::string("not a folder: ") + std::strerror(errno));
    UniqueFd contents = openFolder(root.get(), "Contents");
    if (contents.get() < 0) return problem(app, "has no Contents folder");
    if (::mkdirat(contents.get(), "_CodeSignature", 0755) != 0 && errno != EEXIST)
        return problem(app, std::string("cannot make _CodeSignature: ") + std::strerror(errno));
    UniqueFd folder = openFolder(root.get(), CODE_SIGNATURE_DIR);
    if (folder.get() < 0) return problem(app, "_CodeSignature is not a folder");

    std::string text;
    try {
        text = formatCodeResources(scanBundle(root.get()));
    } catch (const ScanError& error) {
        return problem(app, error.what());
    }
    UniqueFd out(::openat(folder.get(), "CodeResources", O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (out.get() < 0 || !writeAll(out.get(), text) || ::fsync(out.get()) != 0)
        return problem(app, std::string("cannot write CodeResources: ") + std::strerror(errno));

    std::string base = app + "/" + std::string(CODE_SIGNATURE_DIR) + "/";
    int status = runMinisign({"minisign", "-S", "-s", secretKey, "-m", base + "CodeResources", "-x",
                              base + "CodeResources.minisig", "-c", "signature of the bundle's CodeResources"});
    if (status == -1) return problem(app, "minisign could not be started");
    if (status != 0) return problem(app, "minisign could not sign CodeResources");

    std::string why;
    auto signature = readCapped(root.get(), CODE_SIGNATURE_PATH, MINISIGN_MAX_SIGNATURE, why);
    auto key = MinisignKey::parse(ORVANE_SIGNING_PUBKEY_LINE);
    if (!signature || !key ||
        !verifyMinisign(*key, {reinterpret_cast<const unsigned char*>(text.data()), text.size()}, *signature).valid)
        std::fprintf(stderr, "codesign: %s: note: signed with a key other than the one this codesign trusts\n",
                     app.c_str());
    return OK;
}

}  // namespace

int main(int argc, char** argv) try {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "--sign") return sign(std::string(args[1]), std::string(args[2]));

    bool verifying = false;
    std::optional<std::string> app;
    for (auto arg : args) {
        if (arg == "--verify" && !verifying) verifying = true;
        else if (arg == "--deep" || arg == "--strict") continue;  // always deep and strict
        else if (!arg.starts_with("-") && !app) app = std::string(arg);
        else return usage();
    }
    if (!verifying || !app) return usage();
    return verify(*app);
} catch (const std::exception& error) {
    std::fprintf(stderr, "codesign: %s\n", error.what());
    return FAILED;
}
