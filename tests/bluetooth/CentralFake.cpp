#include "CentralFake.h"

#include "PeripheralFake.h"
#include "RadioFake.h"

namespace orvane {

CentralFake::CentralFake(RadioFake& radio, std::weak_ptr<CentralDelegate> delegate)
    : radio_(radio), delegate_(std::move(delegate)) {
    radio_.attach(this);
    radio_.log("create");
    // Like the real stack, the state is first known a moment after creation.
    const ManagerState state = radio_.adapter();
    radio_.deliver("adapter", [&radio = radio_, state] {
        CentralFake* central = radio.central();
        if (!central) return;
        central->report(state);
        if (const auto target = central->delegate()) target->didUpdateState(*central);
    });
}

CentralFake::~CentralFake() { radio_.attach(nullptr); }

void CentralFake::report(ManagerState state) {
    reported_ = state;
    if (state != ManagerState::poweredOn) scanning_ = false;
}

void CentralFake::scanForPeripherals(const ScanOptions& options) {
    radio_.log(options.allowDuplicates ? "scan duplicates" : "scan");
    if (reported_ != ManagerState::poweredOn) {
        ++radio_.misuses;
        return;
    }
    scanning_ = true;
}

void CentralFake::stopScan() {
    radio_.log("stopScan");
    scanning_ = false;
}

std::vector<std::shared_ptr<Peripheral>> CentralFake::retrievePeripherals(const std::vector<Uuid>& identifiers) {
    std::vector<std::shared_ptr<Peripheral>> found;
    for (const Uuid& id : identifiers) {
        radio_.log("retrieve " + id.text());
        if (auto peripheral = radio_.remembered(id)) found.push_back(std::move(peripheral));
    }
    return found;
}

void CentralFake::connect(const std::shared_ptr<Peripheral>& peripheral) {
    radio_.log("connect " + peripheral->identifier().text());
    std::static_pointer_cast<PeripheralFake>(peripheral)->startConnect();
}

void CentralFake::cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) {
    radio_.log("cancel " + peripheral->identifier().text());
    std::static_pointer_cast<PeripheralFake>(peripheral)->cancel();
}

}  // namespace orvane
