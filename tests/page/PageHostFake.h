#pragma once
// A window for the page session in tests: it records what the session asks
// of it and shows whatever address the test sets.

#include <optional>
#include <string>
#include <vector>

#include "PageHost.h"

namespace orvane {

class PageHostFake final : public PageHost {
public:
    void evaluateScript(const std::string& script) override { scripts.push_back(script); }
    std::optional<Url> currentAddress() const override { return address; }
    void openExternally(const Url& url) override { opened.push_back(url.text); }
    void quit() override { ++quits; }

    std::optional<Url> address;
    std::vector<std::string> scripts;
    std::vector<std::string> opened;
    int quits = 0;
};

}  // namespace orvane
