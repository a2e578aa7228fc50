#pragma once
// The app's side of the relaunch step's watch: when the step started this
// process, it waits for one byte on a socket saying that this version is up
// (its window showed a document, the user quit it in order, or another
// Orvane already runs), and puts the previous version back if the byte does
// not come.

namespace orvane {

class ReadySignal {
public:
    // Takes the socket named by the environment, if any, and removes the name,
    // so that nothing this process starts (the web processes) holds the socket
    // open or sees the name. Call first thing, before any thread starts.
    static ReadySignal take();

    ReadySignal(ReadySignal&& other) noexcept;
    ReadySignal& operator=(ReadySignal&& other) noexcept;
    ReadySignal(const ReadySignal&) = delete;
    ReadySignal& operator=(const ReadySignal&) = delete;
    ~ReadySignal();

    // Says "loaded" once; later calls do nothing.
    void send();

private:
    explicit ReadySignal(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace orvane
