#pragma once
// Everything the page talks to, whatever window shows it: the Bluetooth
// bridge, the updater, the outbox of messages for the page, the table of
// message types and the one origin rule, used both for accepting the page's
// messages and for delivering to it. It sees the window only as a PageHost.
//
// Main thread only. The host outlives the session (the window owns it);
// callbacks that may outlive the session hold it weakly.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Bluetooth.h"
#include "MainQueue.h"
#include "PageBridge.h"
#include "PageHost.h"
#include "Updater.h"
#include "Url.h"
#include "WeakPtr.h"

namespace orvane {

struct PageSessionSettings {
    Url pageUrl;
    std::string version;
    // The bundle an update replaces; empty, the updater refuses to install.
    std::filesystem::path updateRoot;
};

// The platform pieces the session works through, chosen by the app's
// composition (or a test). Empty ones leave their part without a backend:
// no central means a computer without Bluetooth LE, no manifest source an
// update check that fails.
struct PageBackends {
    CentralFactory makeCentral;
    // Its `quit` is the session's to set: the host's Quit.
    UpdaterParts updater;
    // Writes one whole line to the log.
    std::function<void(const std::string& line)> log;
};

class PageSession {
public:
    PageSession(MainQueue& queue, PageHost& host, PageSessionSettings settings, PageBackends backends);
    ~PageSession();
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;

    // One message from the page, as the host got it. Messages from anywhere
    // but the top frame of the page's origin, malformed ones and those of an
    // unknown type are dropped without a trace.
    void received(const ScriptMessage& message);
    // The same; false when the message was dropped.
    bool handled(const ScriptMessage& message);

    // The same, for a host that can send something back with the message's
    // own reply: once the message is handled, whatever waits for the page
    // (a request's answer, when it was answered at once, and anything queued
    // before it) goes back as one batch (a JSON array text) with that reply
    // instead of in the next flush, which saves the page a script evaluation
    // and the loop a turn. No batch when nothing waits, or the host does not
    // show the page's origin (then it is dropped, as a flush would drop it).
    // The host must hand the page this batch before any later one.
    struct Reply {
        bool accepted = false;  // the message came from the page and was handled
        std::optional<std::string> batch;
    };
    Reply receivedWithReply(const ScriptMessage& message);

    // Queues one message for the page; batches go out once per loop turn,
    // and only while the host shows the page's origin.
    void deliver(nlohmann::json message);

    // Whether the host shows the page's origin now.
    bool onPage() const;

    // The window no longer shows the control page (another document, or its
    // content process ended): its Bluetooth session ends, as at a new
    // "hello", so that no light stays linked to a page that is gone.
    void pageGone();

    // The app is ending: the Bluetooth bridge and its backend go now, while
    // the loop can still carry their last calls. Page messages for Bluetooth
    // are dropped from here on.
    void shutdown();

    const PageSessionSettings& settings() const { return settings_; }
    Bluetooth* bluetooth() { return bluetooth_.get(); }
    Updater& updater() { return *updater_; }
    // Writes one whole line to the app's log (nothing when it has none).
    const std::function<void(const std::string&)>& logger() const { return log_; }

private:
    struct MessageType;
    static const MessageType* find(std::string_view type);

    void openOutside(const nlohmann::json& message);
    void log(const nlohmann::json& message);
    void update(const nlohmann::json& message);
    void toBluetooth(const nlohmann::json& message);
    void flush();

    MainQueue& queue_;
    PageHost& host_;
    PageSessionSettings settings_;
    std::function<void(const std::string&)> log_;
    std::unique_ptr<Bluetooth> bluetooth_;
    std::unique_ptr<Updater> updater_;
    Outbox outbox_;
    // Last: gone first, so no callback reaches a half-destroyed session.
    WeakPtrFactory<PageSession> weak_{this};
};

}  // namespace orvane
