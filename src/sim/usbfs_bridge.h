#pragma once
// A umockdev testbed that shows the simulated instruments as usbfs device nodes on bus 1,
// behind a root hub, so that the real libusb-0.1 of a program started under the umockdev
// preload finds, opens and drives them. The answers come from the same SimInstrument
// model that the in-process bus uses.
#include "bridge_options.h"
#include "bridge_port.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quillon::sim {

class UsbfsBridge {
public:
    UsbfsBridge(Clock& clock, bool trace);
    ~UsbfsBridge();
    UsbfsBridge(const UsbfsBridge&) = delete;
    UsbfsBridge& operator=(const UsbfsBridge&) = delete;

    // Builds the testbed with the root hub; false, with the reason, when umockdev cannot.
    bool start(std::string& why);
    // Plugs an instrument into the next port of the root hub; its node appears with the
    // next call of follow_instruments() once the model is on the bus.
    SimInstrument& add_instrument(const BridgeInstrument& spec);
    // Adds and removes device nodes as the instruments come onto and go off the bus:
    // after a restart the node goes, and comes back under a new device number.
    void follow_instruments();
    // Flash of the n-th instrument, read under the lock.
    std::vector<std::uint8_t> read_flash(int n, std::uint32_t address, std::uint32_t length);

    // A directory that exists only inside the testbed, for checking that the preload works.
    static constexpr const char* PROBE_PATH = "/sys/devices/quillon-usbfs-bridge";

private:
    struct Node;
    struct Port;

    Node& attach(int port, std::uint8_t devnum, std::uint32_t generation);
    void answer(Node& node, UMockdevIoctlClient* client);
    void answer_root_hub(UMockdevIoctlClient* client);
    std::uint8_t next_devnum();

    Clock& clock_;
    bool trace_;
    std::mutex mutex_;  // the models and the ports, between the ioctl thread and the main one
    UMockdevTestbed* testbed_ = nullptr;
    std::vector<std::unique_ptr<Node>> nodes_;  // kept for the life of the bridge
    std::vector<std::unique_ptr<Port>> ports_;
    std::uint8_t last_devnum_ = 1;  // the root hub has 1
};

}  // namespace quillon::sim
