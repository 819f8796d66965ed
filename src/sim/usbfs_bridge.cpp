#include "sim/usbfs_bridge.h"

#include "sim/bridge_ioctl.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace quillon::sim {

namespace {

// The hub driver's request for the devices behind each port; libusb-0.1 asks it of every
// device to find the children of the hubs.
constexpr unsigned long HUB_PORTINFO = _IOR('U', 19, usbdevfs_hub_portinfo);

constexpr const char* HUB_SYSPATH = "/devices/quillon-usbfs-bridge/usb1";

// A USB 2.0 root hub as Linux shows it: device 1d6b:0002 with one interrupt endpoint.
const std::vector<std::uint8_t> HUB_DEVICE{18,   0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 64,
                                           0x6B, 0x1D, 0x02, 0x00, 0x15, 0x05, 3,    2,
                                           1,    1};
const std::vector<std::uint8_t> HUB_CONFIGURATION{
    9, 0x02, 25, 0, 1, 1, 0, 0xE0, 0,       // CONFIGURATION, self powered
    9, 0x04, 0, 0, 1, 0x09, 0, 0, 0,        // INTERFACE 0, hub class
    7, 0x05, 0x81, 0x03, 4, 0, 12};         // interrupt IN, the status change endpoint

std::string hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string three_digits(unsigned n) {
    char text[8];
    std::snprintf(text, sizeof text, "%03u", n);
    return text;
}

// A usb_device in the testbed's sysfs, with its node under /dev/bus/usb/001.
std::string device_record(const std::string& syspath, unsigned devnum,
                          const std::vector<std::uint8_t>& contents, unsigned vendor,
                          unsigned product, bool high_speed) {
    char ids[64];
    std::snprintf(ids, sizeof ids, "A: idVendor=%04x\nA: idProduct=%04x\n", vendor, product);
    const std::string num = three_digits(devnum);
    return "P: " + syspath + "\n" +
           "N: bus/usb/001/" + num + "=" + hex(contents) + "\n" +
           "E: SUBSYSTEM=usb\n"
           "E: DEVTYPE=usb_device\n"
           "E: DEVNAME=/dev/bus/usb/001/" + num + "\n"
           "E: BUSNUM=001\n"
           "E: DEVNUM=" + num + "\n" +
           "A: busnum=1\n"
           "A: devnum=" + std::to_string(devnum) + "\n" +
           // Removing a device finds its node through this attribute.
           "A: dev=189:" + std::to_string(devnum - 1) + "\n" + ids +
           "A: speed=" + (high_speed ? "480" : "12") + "\n" +
           "A: bConfigurationValue=1\n"
           "H: descriptors=" + hex(contents) + "\n";
}

}  // namespace

struct UsbfsBridge::Node {
    UsbfsBridge* bridge;
    int port;  // 0: the root hub
    std::uint8_t devnum;
    std::uint32_t generation;
    UMockdevIoctlBase* handler = nullptr;
};

struct UsbfsBridge::Port {
    std::unique_ptr<BridgePort> port;
    std::string syspath;
    Node* shown = nullptr;  // the node on the bus now, if any
};

UsbfsBridge::UsbfsBridge(Clock& clock, bool trace) : clock_(clock), trace_(trace) {}

UsbfsBridge::~UsbfsBridge() {
    if (testbed_ != nullptr) g_object_unref(testbed_);  // removes the whole tree
    for (auto& node : nodes_) {
        if (node->handler != nullptr) g_object_unref(node->handler);
    }
}

std::uint8_t UsbfsBridge::next_devnum() {
    last_devnum_ = last_devnum_ >= 127 ? 2 : last_devnum_ + 1;
    return last_devnum_;
}

UsbfsBridge::Node& UsbfsBridge::attach(int port, std::uint8_t devnum, std::uint32_t generation) {
    nodes_.push_back(std::make_unique<Node>(Node{this, port, devnum, generation}));
    Node& node = *nodes_.back();
    node.handler = umockdev_ioctl_base_new();
    auto on_ioctl = +[](UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer data) {
        auto* node = static_cast<Node*>(data);
        node->bridge->answer(*node, client);
        return gboolean{TRUE};
    };
    g_signal_connect(node.handler, "handle-ioctl", G_CALLBACK(on_ioctl), &node);
    // Before the node exists, so that no client can open it unanswered.
    const std::string path = "/dev/bus/usb/001/" + three_digits(devnum);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, path.c_str(), node.handler, &error)) {
        std::fprintf(stderr, "usbfs-bridge: cannot answer on %s: %s\n", path.c_str(),
                     error ? error->message : "?");
        if (error) g_error_free(error);
    }
    return node;
}

bool UsbfsBridge::start(std::string& why) {
    if (umockdev_in_mock_environment()) {
        why = "the bridge itself runs under the umockdev preload";
        return false;
    }
    testbed_ = umockdev_testbed_new();
    // The root hub keeps bus 001 listed while an instrument is off the bus.
    attach(0, 1, 0);
    std::vector<std::uint8_t> contents = HUB_DEVICE;
    contents.insert(contents.end(), HUB_CONFIGURATION.begin(), HUB_CONFIGURATION.end());
    GError* error = nullptr;
    const std::string record = device_record(HUB_SYSPATH, 1, contents, 0x1d6b, 0x0002, true);
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        why = std::string("cannot add the root hub: ") + (error ? error->message : "?");
        if (error) g_error_free(error);
        return false;
    }
    return true;
}

SimInstrument& UsbfsBridge::add_instrument(const BridgeInstrument& spec) {
    std::lock_guard lock(mutex_);
    const int number = static_cast<int>(ports_.size()) + 1;
    auto port = std::make_unique<Port>();
    port->port = std::make_unique<BridgePort>(number, spec.config, clock_,
                                              [this] { return next_devnum(); }, spec.faults,
                                              trace_);
    port->syspath = std::string(HUB_SYSPATH) + "/1-" + std::to_string(number);
    if (spec.appears_at_ms) port->port->instrument().plug_in_at(*spec.appears_at_ms);
    ports_.push_back(std::move(port));
    return ports_.back()->port->instrument();
}

void UsbfsBridge::follow_instruments() {
    for (auto& port : ports_) {
        bool present = false;
        std::uint8_t devnum = 0;
        std::uint32_t generation = 0;
        Node* gone = nullptr;
        {
            std::lock_guard lock(mutex_);
            const SimInstrument& model = port->port->instrument();
            present = model.present();
            devnum = model.devnum();
            generation = model.generation();
            if (port->shown && (!present || port->shown->devnum != devnum ||
                                port->shown->generation != generation)) {
                gone = port->shown;
                port->shown = nullptr;
            }
        }
        // Testbed changes run outside the lock: umockdev's thread may be waiting for it.
        if (gone) {
            if (trace_) std::fprintf(stderr, "usbfs-bridge: port %d: off the bus\n", gone->port);
            umockdev_testbed_remove_device(testbed_, ("/sys" + port->syspath).c_str());
        }
        if (!port->shown && present) {
            Node& node = attach(port->port->port(), devnum, generation);
            const SimInstrument& model = port->port->instrument();
            const std::string record = device_record(
                port->syspath, devnum, port->port->node_contents(), model.config().vendor_id,
                model.config().product_id, model.config().shape.first_endpoint_max_packet == 512);
            GError* error = nullptr;
            if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
                std::fprintf(stderr, "usbfs-bridge: cannot add port %d: %s\n", node.port,
                             error ? error->message : "?");
                if (error) g_error_free(error);
            }
            if (trace_) {
                std::fprintf(stderr, "usbfs-bridge: port %d: on the bus as 001/%03u\n",
                             node.port, unsigned{devnum});
            }
            std::lock_guard lock(mutex_);
            port->shown = &node;
        }
    }
}

std::vector<std::uint8_t> UsbfsBridge::read_flash(int n, std::uint32_t address,
                                                  std::uint32_t length) {
    std::lock_guard lock(mutex_);
    return ports_.at(static_cast<std::size_t>(n))->port->instrument().read_flash(address, length);
}

void UsbfsBridge::answer(Node& node, UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    if (node.port == 0) return answer_root_hub(client);
    ports_[static_cast<std::size_t>(node.port - 1)]->port->answer(client, node.generation);
}

void UsbfsBridge::answer_root_hub(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
    case USBDEVFS_CONNECTINFO: {
        IoctlData info = resolve(arg, 0, sizeof(usbdevfs_connectinfo));
        if (!info) return finish(client, -EFAULT);
        as<usbdevfs_connectinfo>(info).devnum = 1;
        as<usbdevfs_connectinfo>(info).slow = 0;
        return finish(client, 0);
    }
    case USBDEVFS_IOCTL: {
        IoctlData command = resolve(arg, 0, sizeof(usbdevfs_ioctl));
        if (!command) return finish(client, -EFAULT);
        if (static_cast<unsigned long>(as<usbdevfs_ioctl>(command).ioctl_code) != HUB_PORTINFO) {
            return finish(client, -ENOTTY);
        }
        IoctlData info = resolve(command.get(), offsetof(usbdevfs_ioctl, data),
                                 sizeof(usbdevfs_hub_portinfo));
        if (!info) return finish(client, -EFAULT);
        auto& ports = as<usbdevfs_hub_portinfo>(info);
        ports.nports = static_cast<char>(std::max<std::size_t>(ports_.size(), 1));
        std::fill(std::begin(ports.port), std::end(ports.port), 0);
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            if (ports_[i]->shown) ports.port[i] = static_cast<char>(ports_[i]->shown->devnum);
        }
        return finish(client, ports.nports);
    }
    case USBDEVFS_CONTROL: {
        IoctlData setup = resolve(arg, 0, sizeof(usbdevfs_ctrltransfer));
        if (!setup) return finish(client, -EFAULT);
        const auto ctrl = as<usbdevfs_ctrltransfer>(setup);
        const bool get_descriptor = ctrl.bRequestType == 0x80 && ctrl.bRequest == 6;
        const std::vector<std::uint8_t>* desc = nullptr;
        if (get_descriptor && ctrl.wValue == 0x0100) desc = &HUB_DEVICE;
        if (get_descriptor && ctrl.wValue == 0x0200) desc = &HUB_CONFIGURATION;
        if (!desc) return finish(client, -EPIPE);
        IoctlData data = resolve(setup.get(), offsetof(usbdevfs_ctrltransfer, data), ctrl.wLength);
        const std::size_t n = std::min<std::size_t>(ctrl.wLength, desc->size());
        if (data) std::copy_n(desc->begin(), n, data->data);
        return finish(client, static_cast<long>(n));
    }
    case USBDEVFS_SETCONFIGURATION: return finish(client, 0);
    case USBDEVFS_CLAIMINTERFACE: return finish(client, -EBUSY);  // the hub driver has it
    default: return finish(client, -ENOTTY);
    }
}

}  // namespace quillon::sim
