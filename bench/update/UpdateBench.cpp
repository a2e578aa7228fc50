// Hashing and unpacking of a 100 MB update archive, and unpacking of a deep
// one (20,000 small files 1,000 folders down, alternating between two
// parents), each against the stock tool doing the same work: our SHA-256 (OpenSSL EVP, as the updater uses it)
// against `openssl dgst -sha256`, and ditto against `bsdtar -xf`. Both sides
// include starting nothing but the work itself where they can: the stock
// tools run as processes, ditto too (the updater runs it that way), and the
// SHA-256 side reads the file the tool reads. At the end the ratios are
// printed (stock time / our time; 1.0 means as fast, the target is >= 0.9).

#include "Sha256.h"
#include "Spawn.h"

#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Fixture {
    fs::path dir;
    fs::path zip;
    fs::path deepZip;
    std::uint64_t zipBytes = 0;
    std::uint64_t unpackedBytes = 0;
};

constexpr int kDeepLevels = 1000;
constexpr int kDeepEntries = 20000;

Fixture fixture;

// Bytes of four bits' entropy each: deflate shrinks them to a little over
// half, about what it does to program code.
void fill(std::string& data, std::uint64_t& state) {
    for (auto& byte : data) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>('a' + (state & 15));
    }
}

void makeArchive() {
    auto pattern = (fs::temp_directory_path() / "orvane-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    fixture.dir = pattern;
    fixture.zip = fixture.dir / "update.zip";

    std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(a.get());
    archive_write_set_options(a.get(), "zip:compression-level=1");
    archive_write_open_filename(a.get(), fixture.zip.c_str());
    std::uint64_t state = 88172645463325252ull;
    auto add = [&](const std::string& name, std::size_t size, int perm) {
        std::string data(size, '\0');
        fill(data, state);
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), name.c_str());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), perm);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
        archive_write_header(a.get(), entry.get());
        archive_write_data(a.get(), data.data(), data.size());
        fixture.unpackedBytes += size;
    };
    add("Orvane.app/Contents/Linux/orvane", 24 << 20, 0755);
    for (int i = 0; i < 64; ++i) add("Orvane.app/Contents/Lib/lib" + std::to_string(i) + ".so", 2 << 20, 0755);
    for (int i = 0; i < 2000; ++i)
        add("Orvane.app/Contents/Resources/r" + std::to_string(i / 100) + "/item" + std::to_string(i), 8 << 10, 0644);
    archive_write_close(a.get());
    fixture.zipBytes = fs::file_size(fixture.zip);
}

// Where the cost of a walk from the top for every entry shows: each entry's
// parent differs from the last one's, 1,000 levels down.
void makeDeepArchive() {
    fixture.deepZip = fixture.dir / "deep.zip";
    std::unique_ptr<archive, decltype(&archive_write_free)> a(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(a.get());
    archive_write_open_filename(a.get(), fixture.deepZip.c_str());
    std::string chain = "Orvane.app";
    for (int level = 1; level < kDeepLevels - 1; ++level) chain += "/d";
    const std::string data = "sixteen bytes...";
    for (int i = 0; i < kDeepEntries; ++i) {
        const std::string name = chain + (i % 2 ? "/a/f" : "/b/f") + std::to_string(i);
        std::unique_ptr<archive_entry, decltype(&archive_entry_free)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), name.c_str());
        archive_entry_set_filetype(entry.get(), AE_IFREG);
        archive_entry_set_perm(entry.get(), 0644);
        archive_entry_set_size(entry.get(), static_cast<la_int64_t>(data.size()));
        archive_write_header(a.get(), entry.get());
        archive_write_data(a.get(), data.data(), data.size());
    }
    archive_write_close(a.get());
}

int run(const std::vector<std::string>& argv) {
    orvane::SpawnOptions options;
    options.output = "/dev/null";
    return orvane::spawnAndWait(argv, options);
}

void Sha256Orvane(benchmark::State& state) {
    std::vector<unsigned char> buffer(1 << 20);
    for (auto _ : state) {
        int fd = ::open(fixture.zip.c_str(), O_RDONLY | O_CLOEXEC);
        orvane::Sha256 sha;
        ssize_t got = 0;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0)
            sha.update({buffer.data(), static_cast<std::size_t>(got)});
        ::close(fd);
        benchmark::DoNotOptimize(sha.finish());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.zipBytes));
}

void Sha256OpensslTool(benchmark::State& state) {
    for (auto _ : state) {
        if (run({OPENSSL, "dgst", "-sha256", fixture.zip.string()}) != 0) state.SkipWithError("openssl failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.zipBytes));
}

// Removes a tree of any depth (a path 1,000 levels down is longer than
// some calls take), one folder descriptor at a time.
void removeTree(const fs::path& root) {
    if (!fs::exists(fs::symlink_status(root))) return;
    std::vector<std::string> argv = {"/bin/rm", "-rf", root.string()};
    run(argv);
}

void unpack(benchmark::State& state, bool ours, const fs::path& zip) {
    fs::path out = fixture.dir / "out";
    for (auto _ : state) {
        state.PauseTiming();
        removeTree(out);
        if (!ours) fs::create_directory(out);
        ::sync();
        state.ResumeTiming();
        int status = ours ? run({DITTO, "-x", "-k", zip.string(), out.string()})
                          : run({BSDTAR, "-xf", zip.string(), "-C", out.string()});
        if (status != 0) state.SkipWithError("unpacking failed");
    }
    removeTree(out);
}

void UnpackDitto(benchmark::State& state) {
    unpack(state, true, fixture.zip);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.zipBytes));
    state.counters["unpacked_MB"] = static_cast<double>(fixture.unpackedBytes) / 1e6;
}
void UnpackBsdtar(benchmark::State& state) {
    unpack(state, false, fixture.zip);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.zipBytes));
    state.counters["unpacked_MB"] = static_cast<double>(fixture.unpackedBytes) / 1e6;
}
void UnpackDeepDitto(benchmark::State& state) {
    unpack(state, true, fixture.deepZip);
    state.SetItemsProcessed(state.iterations() * kDeepEntries);
}
void UnpackDeepBsdtar(benchmark::State& state) {
    unpack(state, false, fixture.deepZip);
    state.SetItemsProcessed(state.iterations() * kDeepEntries);
}

BENCHMARK(Sha256Orvane)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(Sha256OpensslTool)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(UnpackDitto)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(UnpackBsdtar)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(UnpackDeepDitto)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(UnpackDeepBsdtar)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Prints the console report, then each stock/ours ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        ratio("SHA-256", "Sha256OpensslTool", "Sha256Orvane");
        ratio("unpacking", "UnpackBsdtar", "UnpackDitto");
        ratio("deep unpacking", "UnpackDeepBsdtar", "UnpackDeepDitto");
    }

private:
    void ratio(const char* what, const std::string& stock, const std::string& ours) {
        auto s = find(stock), o = find(ours);
        if (s > 0 && o > 0)
            std::printf("%s: %s time / %s time = %.2f (target >= 0.9)\n", what, stock.c_str(), ours.c_str(), s / o);
    }
    double find(const std::string& prefix) const {
        for (const auto& [name, time] : seconds_)
            if (name.rfind(prefix + "/", 0) == 0 || name == prefix) return time;
        return 0;
    }
    std::map<std::string, double> seconds_;
};

}  // namespace

// NOLINTNEXTLINE(bugprone-exception-escape): a bench that throws is meant to stop, and terminate names what it threw
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    makeArchive();
    makeDeepArchive();
    std::printf("archive: %.1f MB zipped, %.1f MB unpacked\n", static_cast<double>(fixture.zipBytes) / 1e6,
                static_cast<double>(fixture.unpackedBytes) / 1e6);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    removeTree(fixture.dir);
}
