#pragma once
// The central of the fake backend; made through RadioFake::factory().

#include <memory>

#include "Central.h"

namespace orvane {

class RadioFake;

class CentralFake final : public Central {
public:
    CentralFake(RadioFake& radio, std::weak_ptr<CentralDelegate> delegate);
    ~CentralFake() override;

    ManagerState state() const override { return reported_; }
    bool isScanning() const override { return scanning_; }
    void scanForPeripherals(const ScanOptions& options) override;
    void stopScan() override;
    std::vector<std::shared_ptr<Peripheral>> retrievePeripherals(const std::vector<Uuid>& identifiers) override;
    void connect(const std::shared_ptr<Peripheral>& peripheral) override;
    void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) override;

    // For the radio and the peripherals: the state as delivered to the delegate.
    void report(ManagerState state);
    std::shared_ptr<CentralDelegate> delegate() const { return delegate_.lock(); }

private:
    RadioFake& radio_;
    std::weak_ptr<CentralDelegate> delegate_;
    ManagerState reported_ = ManagerState::unknown;
    bool scanning_ = false;
};

}  // namespace orvane
