// Thousands of seeded random runs of page requests and stack events, checked
// against what the page relies on: every numbered request is answered at most
// once; once the stack has answered everything, every request since the last
// "hello" is answered exactly once; nothing from before a "hello" is answered
// after it; the bookkeeping stays consistent; the stack is never misused;
// also while the stack removes service and characteristic objects in any order.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <sstream>

#include "Bluetooth.h"
#include "CentralFake.h"
#include "MainQueueVirtual.h"
#include "PeripheralFake.h"
#include "RadioFake.h"

namespace orvane {
namespace {

using nlohmann::json;

constexpr unsigned sequences = 3000;

const std::string controlUuid = "00010203-0405-0607-0809-0a0b0c0d1910";
const std::string statusUuid = "00010203-0405-0607-0809-0a0b0c0d2b10";
const std::string commandUuid = "00010203-0405-0607-0809-0a0b0c0d2b11";
const std::string infoUuid = "0000180a-0000-1000-8000-00805f9b34fb";
const std::string modelUuid = "00002a29-0000-1000-8000-00805f9b34fb";

// Who asked what, and what came back.
struct Ledger {
    struct Entry {
        int epoch = 0;  // the number of "hello"s before the request
        int answers = 0;
    };
    std::map<std::int64_t, Entry> requests;
    int epoch = 0;
    std::vector<std::string> faults;

    void received(const json& message) {
        if (message.value("t", "") != "res") return;
        const auto req = message.at("req").get<std::int64_t>();
        const auto it = requests.find(req);
        if (it == requests.end()) return faults.push_back("reply to nobody: " + message.dump());
        if (++it->second.answers > 1) faults.push_back("second reply: " + message.dump());
        if (it->second.epoch != epoch) faults.push_back("reply from before hello: " + message.dump());
    }
};

class RandomRun {
public:
    explicit RandomRun(unsigned seed) : rng_(seed) {
        radio_.hold(true);
        for (const char* id : {"0C6E8A4D-1B2F-4C3D-9E8F-123456789ABC", "11111111-2222-3333-4444-555555555555"})
            devices_.push_back(radio_.addPeripheral(id, "light"));
        devices_.push_back(radio_.addStranger("ABCDEF01-2345-6789-ABCD-EF0123456789"));
        for (const auto& device : devices_) {
            const auto control = device->addService(controlUuid);
            chars_.push_back(control->addCharacteristic(statusUuid, 0x12));
            control->addCharacteristic(commandUuid, 0x0C);
            device->addService("180A")->addCharacteristic("2A29", 0x02);
            // Most attempts end by themselves (when the radio lets the answer go).
            device->connectOutcome = chance(0.7) ? PeripheralFake::Outcome::succeed : PeripheralFake::Outcome::hang;
            if (chance(0.5)) device->limitWrites(pick(0, 3));
        }
        bluetooth_.send = [this](const json& message) {
            ledger_.received(message);
            learn(message);
        };
    }

    void play(int steps) {
        for (int i = 0; i < steps && ok(); ++i) {
            step();
            queue_.runUntilIdle();
            if (!bluetooth_.invariantsHold()) fault("a connecting or linked device is not known");
        }
        if (ok()) settleEverything();
        if (ok()) checkEveryoneAnswered();
    }

    bool ok() const { return ledger_.faults.empty(); }
    std::string report() const {
        std::ostringstream out;
        for (const auto& fault : ledger_.faults) out << "fault: " << fault << "\n";
        out << "after:\n";
        for (const auto& line : trace_) out << "  " << line << "\n";
        return out.str();
    }

private:
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    template <class T>
    const T& any(const std::vector<T>& items) {
        return items[static_cast<std::size_t>(pick(0, static_cast<int>(items.size()) - 1))];
    }
    void fault(std::string text) { ledger_.faults.push_back(std::move(text)); }
    void note(std::string line) { trace_.push_back(std::move(line)); }

    // Like a real page, it mostly asks about devices it was told are connected
    // (or discovered), and sometimes about any device at all.
    std::string someId(const std::set<std::string>& believed = {}) {
        if (chance(0.02)) return "not-a-device";
        std::string id = !believed.empty() && chance(0.85)
                             ? *std::next(believed.begin(), pick(0, static_cast<int>(believed.size()) - 1))
                             : any(devices_)->identifier().text();
        if (chance(0.2))
            for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return id;
    }
    void request(json message) {
        asked_[nextReq_] = {message["t"].get<std::string>(), message["id"].get<std::string>()};
        message["req"] = nextReq_;
        ledger_.requests[nextReq_] = {ledger_.epoch, 0};
        ++nextReq_;
        note("page " + message.dump());
        bluetooth_.handle(message);
    }
    void page(const json& message) {
        note("page " + message.dump());
        bluetooth_.handle(message);
    }
    json gattRequest(const char* type) {
        static const std::vector<std::pair<std::string, std::string>> targets = {
            {controlUuid, statusUuid}, {controlUuid, commandUuid}, {infoUuid, modelUuid}, {"180a", "2a29"}};
        const auto& [svc, chr] = any(targets);
        return {{"t", type}, {"id", someId(discovered_)}, {"svc", svc}, {"chr", chr}};
    }

    enum Action {
        hello,
        scan,
        connect,
        disconnect,
        services,
        write,
        notify,
        release,
        finishConnect,
        failConnect,
        loseLink,
        adapter,
        ready,
        limit,
        value,
        advance,
        advert,
        scriptFailure,
        removeService,
        removeCharacteristic,
    };
    // Weighted so that runs get far: devices link, get discovered and written to.
    Action nextAction() {
        static const std::vector<std::pair<Action, double>> weights = {
            {hello, 1},
            {scan, 2},
            {connect, 6},
            {disconnect, 2},
            {services, 6},
            {write, 14},
            {notify, 4},
            {release, 30},
            {finishConnect, 6},
            {failConnect, 1},
            {loseLink, 1},
            {adapter, 2},
            {ready, 5},
            {limit, 2},
            {value, 2},
            {advance, 2},
            {advert, 2},
            {scriptFailure, 1},
            // The stack replacing objects of a changed table, in either order.
            {removeService, 1},
            {removeCharacteristic, 1},
        };
        std::vector<double> w;
        w.reserve(weights.size());
        for (const auto& [action, weight] : weights) w.push_back(weight);
        return weights[std::discrete_distribution<std::size_t>(w.begin(), w.end())(rng_)].first;
    }

    void step() {
        const auto& device = any(devices_);
        const std::string who = device->identifier().text().substr(0, 4);
        Action action = nextAction();
        // A page mostly connects and reads the table before it writes.
        if ((action == write || action == notify) && discovered_.empty() && chance(0.8))
            action = linked_.empty() ? connect : services;
        switch (action) {
        case hello:
            ++ledger_.epoch;
            linked_.clear();
            discovered_.clear();
            page({{"t", "hello"}});
            break;
        case scan: page({{"t", "scan"}, {"on", chance(0.7)}}); break;
        case connect: request({{"t", "connect"}, {"id", someId()}}); break;
        case disconnect: page({{"t", "disconnect"}, {"id", someId()}}); break;
        case services: request({{"t", "services"}, {"id", someId(linked_)}}); break;
        case write: {
            json message = gattRequest("write");
            message["data"] = chance(0.95) ? std::string(static_cast<std::size_t>(2 * pick(0, 3)), 'a') : "zz";
            message["response"] = chance(0.4);
            request(message);
            break;
        }
        case notify: {
            json message = gattRequest("notify");
            message["on"] = chance(0.5);
            request(message);
            break;
        }
        case release:
            if (const auto heads = radio_.releasable(); !heads.empty()) {
                note("release");
                radio_.release(any(heads));
            }
            break;
        case finishConnect:
            note("finish connect " + who);
            device->finishConnect();
            break;
        case failConnect:
            note("fail connect " + who);
            device->failConnect(chance(0.5)
                                    ? std::optional<BluetoothError>()
                                    : BluetoothError{BluetoothFailure::connectFailed, "le-connection-abort-by-local"});
            break;
        case loseLink:
            note("lose link " + who);
            device->loseLink();
            break;
        case adapter: {
            static const std::vector<ManagerState> states = {
                ManagerState::poweredOn, ManagerState::poweredOn,    ManagerState::poweredOn,
                ManagerState::poweredOn, ManagerState::poweredOff,   ManagerState::resetting,
                ManagerState::unknown,   ManagerState::unauthorized, ManagerState::unsupported};
            const ManagerState state = any(states);
            note("adapter " + std::to_string(static_cast<int>(state)));
            radio_.setAdapter(state);
            break;
        }
        case ready: {
            const int count = pick(0, 3);
            note("ready " + who + " " + std::to_string(count));
            device->ready(count);
            break;
        }
        case limit: {
            const int count = pick(0, 2);
            note("limit " + who + " " + std::to_string(count));
            device->limitWrites(count);
            break;
        }
        case value:
            note("value " + who);
            device->receive(any(chars_), Bytes{1, 2});
            break;
        case advance: {
            const double seconds = pick(1, 120) / 10.0;
            note("advance " + std::to_string(seconds));
            queue_.advance(seconds);
            break;
        }
        case advert:
            note("advert " + who);
            radio_.advertise(device, {}, -50);
            break;
        case removeService: {
            const auto& service = any(device->table());
            note("remove service " + who + " " + service->uuid().string());
            device->removeService(service);
            break;
        }
        case removeCharacteristic: {
            const auto& service = any(device->table());
            const auto& characteristic = any(service->table());
            note("remove characteristic " + who + " " + characteristic->uuid().string());
            service->removeCharacteristic(characteristic);
            break;
        }
        case scriptFailure: {
            const auto operation = static_cast<PeripheralFake::Operation>(pick(0, 3));
            note("script failure " + who);
            device->failNext(operation, BluetoothFailure::failed, "Operation failed with ATT error: 0x0e");
            break;
        }
        }
    }

    // The stack answers everything it still owes and every attempt ends.
    void settleEverything() {
        note("settle");
        radio_.hold(false);
        radio_.setAdapter(ManagerState::poweredOn);
        for (int round = 0; round < 20; ++round) {
            radio_.releaseAll();
            queue_.runUntilIdle();
            for (const auto& device : devices_) {
                device->finishConnect();
                device->ready(100);
            }
            queue_.runUntilIdle();
            queue_.advance(11);
            if (!bluetooth_.invariantsHold()) fault("a connecting or linked device is not known");
        }
        if (radio_.held() != 0 || queue_.pending() != 0) fault("the stack did not settle");
        if (radio_.misuses != 0) fault("the stack was misused " + std::to_string(radio_.misuses) + " times");
    }

    void checkEveryoneAnswered() {
        for (const auto& [req, entry] : ledger_.requests)
            if (entry.epoch == ledger_.epoch && entry.answers != 1)
                fault("request " + std::to_string(req) + " got " + std::to_string(entry.answers) + " answers");
    }

    void learn(const json& message) {
        const std::string type = message.value("t", "");
        if (type == "disconnected") {
            linked_.erase(message["id"].get<std::string>());
            discovered_.erase(message["id"].get<std::string>());
        }
        if (type != "res" || message["ok"] != true) return;
        const auto& [asked, id] = asked_[message["req"].get<std::int64_t>()];
        if (asked == "connect") linked_.insert(id);
        if (asked == "services") discovered_.insert(id);
    }

    std::mt19937 rng_;
    MainQueueVirtual queue_;
    RadioFake radio_{queue_};
    std::vector<std::shared_ptr<PeripheralFake>> devices_;
    std::vector<std::shared_ptr<CharacteristicFake>> chars_;
    Bluetooth bluetooth_{queue_, radio_.factory()};
    Ledger ledger_;
    std::int64_t nextReq_ = 1;
    std::vector<std::string> trace_;
    // What the page was told.
    std::map<std::int64_t, std::pair<std::string, std::string>> asked_;
    std::set<std::string> linked_;
    std::set<std::string> discovered_;
};

TEST(BluetoothRandom, EveryRequestIsAnsweredOnceUnlessHelloCameAfterIt) {
    int failures = 0;
    for (unsigned seed = 1; seed <= sequences && failures < 3; ++seed) {
        RandomRun run(seed);
        std::mt19937 lengths(seed);
        run.play(std::uniform_int_distribution<int>(10, 150)(lengths));
        if (!run.ok()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << "\n" << run.report();
        }
    }
}

}  // namespace
}  // namespace orvane
