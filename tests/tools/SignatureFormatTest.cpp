// The signature library on its own: minisign signature files made by the stock
// minisign tool, then damaged line by line, and CodeResources texts.

#include "CodeResources.h"
#include "Minisign.h"
#include "ToolTesting.h"

#include <gtest/gtest.h>

#include <functional>

namespace orvane::testing {
namespace {

namespace fs = std::filesystem;

std::span<const unsigned char> bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

class MinisignTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = new TempDir;
        auto pub = *folder / "test.pub", key = *folder / "test.key", data = *folder / "data";
        ASSERT_EQ(run({MINISIGN, "-G", "-W", "-p", pub.string(), "-s", key.string()}), 0);
        writeText(data, DATA);
        ASSERT_EQ(run({MINISIGN, "-S", "-s", key.string(), "-m", data.string(), "-t", "kind:test\tversion:1.2.3"}), 0);
        publicKey = readText(pub);
        signature = readText(data.string() + ".minisig");
    }
    static void TearDownTestSuite() { delete folder; }

    static SignatureCheck check(const std::string& sig, const std::string& data = DATA) {
        auto key = MinisignKey::parse(publicKey);
        EXPECT_TRUE(key);
        return key ? verifyMinisign(*key, bytes(data), sig) : SignatureCheck{};
    }

    static constexpr const char* DATA = "orvane-code-resources 1\n";
    static inline TempDir* folder = nullptr;
    static inline std::string publicKey;
    static inline std::string signature;
};

TEST_F(MinisignTest, StockSignatureVerifiesAndGivesTheTrustedComment) {
    auto result = check(signature);
    EXPECT_TRUE(result.valid) << result.problem;
    EXPECT_EQ(result.trustedComment, "kind:test\tversion:1.2.3");
    EXPECT_TRUE(check(signature.substr(0, signature.size() - 1)).valid) << "final newline is optional";
    EXPECT_FALSE(check(signature, "orvane-code-resources 2\n").valid);
}

TEST_F(MinisignTest, PublicKeyFileOrLineOnly) {
    auto line = publicKey.substr(publicKey.find('\n') + 1, 56);
    auto fromLine = MinisignKey::parse(line);
    auto fromFile = MinisignKey::parse(publicKey);
    ASSERT_TRUE(fromLine && fromFile);
    EXPECT_EQ(fromLine->key, fromFile->key);
    EXPECT_EQ(fromLine->id, fromFile->id);
    for (const std::string& bad : {std::string(), line.substr(1), line + "=", "RU" + line.substr(2),
                                   "x\n" + line + "\n", "untrusted comment: k\n" + line + "\nextra\n"})
        EXPECT_FALSE(MinisignKey::parse(bad)) << bad;
}

struct Damage {
    const char* name;
    std::function<std::string(std::vector<std::string> lines)> make;
};

void PrintTo(const Damage& row, std::ostream* out) { *out << row.name; }

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string joined(const std::vector<std::string>& lines, const char* ending = "\n") {
    std::string out;
    for (const auto& line : lines) out += line + ending;
    return out;
}

class MinisignDamageTest : public MinisignTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(MinisignDamageTest, IsRefused) {
    auto damaged = GetParam().make(split(signature));
    auto result = check(damaged);
    EXPECT_FALSE(result.valid);
    EXPECT_FALSE(result.problem.empty());
    EXPECT_TRUE(result.trustedComment.empty());
}

// Re-encodes line 2 after changing its decoded bytes.
std::string reblob(const std::string& line, const std::function<void(std::string&)>& change) {
    auto blob = *decodeBase64(line);
    change(blob);
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < blob.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(blob[i]) << 16;
        if (i + 1 < blob.size()) n |= static_cast<unsigned char>(blob[i + 1]) << 8;
        if (i + 2 < blob.size()) n |= static_cast<unsigned char>(blob[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += i + 1 < blob.size() ? alphabet[(n >> 6) & 63] : '=';
        out += i + 2 < blob.size() ? alphabet[n & 63] : '=';
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Signatures, MinisignDamageTest,
                         ::testing::Values(Damage{"Empty", [](auto) { return std::string(); }},
                                           Damage{"Truncated",
                                                  [](auto l) {
                                                      return joined({l[0], l[1], l[2]});
                                                  }},
                                           Damage{"ExtraLine", [](auto l) { return joined(l) + "more\n"; }},
                                           Damage{"CrLfLines", [](auto l) { return joined(l, "\r\n"); }},
                                           Damage{"LoneCarriageReturn",
                                                  [](auto l) {
                                                      l[2] += "\r";
                                                      return joined(l);
                                                  }},
                                           Damage{"NoUntrustedComment",
                                                  [](auto l) {
                                                      l[0] = "comment: x";
                                                      return joined(l);
                                                  }},
                                           Damage{"NoTrustedCommentPrefix",
                                                  [](auto l) {
                                                      l[2] = l[2].substr(1);
                                                      return joined(l);
                                                  }},
                                           Damage{"LegacyAlgorithm",
                                                  [](auto l) {
                                                      l[1] = reblob(l[1], [](std::string& b) { b[1] = 'd'; });
                                                      return joined(l);
                                                  }},
                                           Damage{"OtherKeyId",
                                                  [](auto l) {
                                                      l[1] = reblob(l[1], [](std::string& b) { b[2] ^= 1; });
                                                      return joined(l);
                                                  }},
                                           Damage{"FlippedSignatureBit",
                                                  [](auto l) {
                                                      l[1] = reblob(l[1], [](std::string& b) { b[40] ^= 1; });
                                                      return joined(l);
                                                  }},
                                           Damage{"Blob73Bytes",
                                                  [](auto l) {
                                                      l[1] = reblob(l[1], [](std::string& b) { b.pop_back(); });
                                                      return joined(l);
                                                  }},
                                           Damage{"Blob75Bytes",
                                                  [](auto l) {
                                                      l[1] = reblob(l[1], [](std::string& b) { b.push_back('x'); });
                                                      return joined(l);
                                                  }},
                                           Damage{"BadPadding",
                                                  [](auto l) {
                                                      l[3].back() = 'A';
                                                      l[3] += "=";
                                                      return joined(l);
                                                  }},
                                           Damage{"NonCanonicalBase64",
                                                  [](auto l) {
                                                      l[3][l[3].size() - 3] ^= 1;
                                                      return joined(l);
                                                  }},
                                           Damage{"GlobalSignatureChanged",
                                                  [](auto l) {
                                                      l[3][0] = l[3][0] == 'A' ? 'B' : 'A';
                                                      return joined(l);
                                                  }},
                                           Damage{"TrustedCommentChanged",
                                                  [](auto l) {
                                                      l[2] += "x";
                                                      return joined(l);
                                                  }},
                                           Damage{"ControlCharacterInComment",
                                                  [](auto l) {
                                                      l[2] += "\x1b";
                                                      return joined(l);
                                                  }},
                                           Damage{"InvalidUtf8InComment",
                                                  [](auto l) {
                                                      l[2] += "\xc3(";
                                                      return joined(l);
                                                  }},
                                           Damage{"NineKilobyteComment",
                                                  [](auto l) {
                                                      l[2] += std::string(std::size_t{9} * 1024, 'a');
                                                      return joined(l);
                                                  }},
                                           Damage{"OversizedFile",
                                                  [](auto l) {
                                                      l[0] += std::string(std::size_t{17} * 1024, 'a');
                                                      return joined(l);
                                                  }}),
                         [](const auto& row) { return std::string(row.param.name); });

CodeResource entry(CodeResource::Kind kind, std::string path, std::string extra = {}) {
    CodeResource e;
    e.kind = kind;
    e.path = std::move(path);
    if (kind == CodeResource::Kind::Link) e.target = std::move(extra);
    if (kind == CodeResource::Kind::File || kind == CodeResource::Kind::Executable) {
        e.size = 12;
        e.sha256 = std::string(64, 'a');
    }
    return e;
}

TEST(CodeResourcesTest, RoundTripsOddNames) {
    using K = CodeResource::Kind;
    std::vector<CodeResource> list = {entry(K::Directory, "Contents"), entry(K::Executable, "Contents/a b\tc\nd%e\x7f"),
                                      entry(K::Link, "Contents/link", "../x y%"), entry(K::File, "Contents/über")};
    std::string problem;
    auto text = formatCodeResources(list);
    EXPECT_EQ(text.find('\t', text.find("Contents/a")), text.find("\t12\t"));
    auto back = parseCodeResources(text, problem);
    ASSERT_TRUE(back) << problem;
    EXPECT_EQ(*back, list);
}

TEST(CodeResourcesTest, RefusesAnythingButTheCanonicalForm) {
    const std::string sha(64, 'a');
    const std::string head = "orvane-code-resources 1\n";
    const std::vector<std::string> refused{std::string(),
                                           std::string("orvane-code-resources 2\n"),
                                           head + "dir\tContents",
                                           head + "dir\tContents\r\n",
                                           head + "\n",
                                           head + "dir\tb\ndir\ta\n",             // out of order
                                           head + "dir\ta\ndir\ta\n",             // twice
                                           head + "file\ta/b\t1\t" + sha + "\n",  // parent not listed
                                           head + "file\tf\t01\t" + sha + "\n",
                                           head + "file\tf\t1\t" + std::string(64, 'A') + "\n",
                                           head + "file\tf\t99999999999999999999\t" + sha + "\n",
                                           head + "file\tf\t1\n",
                                           head + "dir\ta%41\n",
                                           head + "dir\ta%2f\n",
                                           head + "dir\ta b\n",
                                           head + "dir\t..\n",
                                           head + "dir\t/abs\n",
                                           head + "dir\ta//b\n",
                                           head + "link\tl\t\n",
                                           head + "dir\ta\textra\n",
                                           head + "fifo\tp\n"};
    for (const std::string& text : refused) {
        std::string problem;
        EXPECT_FALSE(parseCodeResources(text, problem)) << ::testing::PrintToString(text);
    }
}

}  // namespace
}  // namespace orvane::testing
