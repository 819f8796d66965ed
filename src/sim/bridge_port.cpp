#include "sim/bridge_port.h"

#include "sim/bridge_ioctl.h"
#include "sim/error_text.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <thread>

namespace quillon::sim {

namespace {

constexpr int GET_DESCRIPTOR = 6;
constexpr int DT_STRING = 3;
constexpr int SET_CONFIGURATION_TIMEOUT_MS = 5000;  // the kernel's own
constexpr int ENGLISH_US = 0x0409;

// A URB that has finished, waiting for its reap, or that the device never answers.
struct Urb {
    gulong address = 0;  // the client's struct usbdevfs_urb
    bool write_status = false;
    int status = 0;
};

// The URBs of one open file; they die with it.
struct ClientUrbs {
    std::deque<Urb> done;
    std::vector<gulong> flying;
};

constexpr const char* URBS_KEY = "quillon-urbs";

ClientUrbs& urbs_of(UMockdevIoctlClient* client) {
    auto* urbs = static_cast<ClientUrbs*>(g_object_get_data(G_OBJECT(client), URBS_KEY));
    if (urbs == nullptr) {
        urbs = new ClientUrbs;
        g_object_set_data_full(G_OBJECT(client), URBS_KEY, urbs,
                               [](gpointer p) { delete static_cast<ClientUrbs*>(p); });
    }
    return *urbs;
}

// A time-out runs out in real time without holding up the other requests.
void finish_after(UMockdevIoctlClient* client, int delay_ms, long result) {
    g_object_ref(client);
    std::thread([client, delay_ms, result] {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        finish(client, result);
        g_object_unref(client);
    }).detach();
}

std::uint32_t le32(std::span<const std::uint8_t> bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::string hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    char part[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(part, sizeof part, " %02x", b);
        text += part;
    }
    return text;
}

}  // namespace

BridgePort::BridgePort(int port, InstrumentConfig config, Clock& clock,
                       std::function<std::uint8_t()> next_devnum,
                       const std::vector<Fault>& faults, bool trace)
    : port_(port), instrument_(std::move(config), clock), trace_(trace) {
    instrument_.set_address_allocator(std::move(next_devnum));
    for (const Fault& fault : faults) faults_.add(fault);
}

std::vector<std::uint8_t> BridgePort::node_contents() const {
    std::vector<std::uint8_t> contents = instrument_.device_descriptor();
    if (instrument_.config().shape.has_configuration) {
        const auto configuration = instrument_.configuration_descriptor();
        contents.insert(contents.end(), configuration.begin(), configuration.end());
    }
    return contents;
}

bool BridgePort::has_interface(int number) const {
    const auto desc = instrument_.configuration_descriptor();
    for (std::size_t at = 0; at + 3 < desc.size() && desc[at] >= 2; at += desc[at]) {
        if (desc[at + 1] == 0x04 && desc[at + 2] == number) return true;
    }
    return false;
}

void BridgePort::trace(const std::string& line) const {
    if (trace_) std::fprintf(stderr, "usbfs-bridge: port %d: %s\n", port_, line.c_str());
}

void BridgePort::answer(UMockdevIoctlClient* client, std::uint32_t generation) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    // A node of an earlier enumeration leads nowhere: the device behind it is gone.
    if (!instrument_.present() || instrument_.generation() != generation) {
        trace("request on a gone device: ENODEV");
        return finish(client, -ENODEV);
    }
    int delay_ms = 0;
    long result = -ENOTTY;
    switch (request) {
    case USBDEVFS_CONNECTINFO: {
        IoctlData info = resolve(arg, 0, sizeof(usbdevfs_connectinfo));
        if (!info) return finish(client, -EFAULT);
        as<usbdevfs_connectinfo>(info).devnum = instrument_.devnum();
        as<usbdevfs_connectinfo>(info).slow = 0;
        result = 0;
        break;
    }
    case USBDEVFS_CONTROL: result = control(arg, delay_ms); break;
    case USBDEVFS_SETCONFIGURATION: result = set_configuration(arg, delay_ms); break;
    case USBDEVFS_CLAIMINTERFACE: result = claim_interface(arg); break;
    case USBDEVFS_RELEASEINTERFACE: result = 0; break;
    case USBDEVFS_SUBMITURB: result = submit(client, arg); break;
    case USBDEVFS_REAPURBNDELAY: result = reap(client, arg, false); break;
    case USBDEVFS_REAPURB: result = reap(client, arg, true); break;
    case USBDEVFS_DISCARDURB: result = discard(client, arg); break;
    case USBDEVFS_IOCTL: result = -ENOSYS; break;  // no hub driver behind an instrument
    default: trace("unknown request " + std::to_string(request)); break;
    }
    if (delay_ms > 0) return finish_after(client, delay_ms, result);
    finish(client, result);
}

long BridgePort::control(UMockdevIoctlData* arg, int& delay_ms) {
    IoctlData setup = resolve(arg, 0, sizeof(usbdevfs_ctrltransfer));
    if (!setup) return -EFAULT;
    const usbdevfs_ctrltransfer ctrl = as<usbdevfs_ctrltransfer>(setup);
    IoctlData data = resolve(setup.get(), offsetof(usbdevfs_ctrltransfer, data), ctrl.wLength);
    if (ctrl.wLength > 0 && !data) return -EFAULT;
    std::span<std::uint8_t> bytes;
    if (data) bytes = {data->data, static_cast<std::size_t>(data->data_len)};
    const int timeout = static_cast<int>(ctrl.timeout);

    long result = -EPIPE;
    if (ctrl.bRequestType == 0x80 && ctrl.bRequest == GET_DESCRIPTOR) {
        result = descriptor(ctrl.wValue >> 8, ctrl.wValue & 0xFF, bytes, delay_ms, timeout);
    } else if ((ctrl.bRequestType & 0x80) == 0) {
        result = command(ctrl.bRequestType, ctrl.bRequest, ctrl.wValue, ctrl.wIndex, bytes, timeout,
                         delay_ms);
    }
    char head[64];
    std::snprintf(head, sizeof head, "CONTROL %02x %02x %04x %04x len %u", ctrl.bRequestType,
                  ctrl.bRequest, ctrl.wValue, ctrl.wIndex, ctrl.wLength);
    trace(head + ((ctrl.bRequestType & 0x80) ? std::string() : hex(bytes)) + " -> " +
          std::to_string(result) + (delay_ms ? " after " + std::to_string(delay_ms) + " ms" : ""));
    return result;
}

long BridgePort::descriptor(int type, int index, std::span<std::uint8_t> out, int& delay_ms,
                            int timeout_ms) {
    std::vector<std::uint8_t> desc;
    std::size_t limit = out.size();
    if (type == DT_STRING && index == 0) {
        desc = {4, DT_STRING, ENGLISH_US & 0xFF, ENGLISH_US >> 8};
    } else {
        const Step step = type == DT_STRING ? Step::GetString : Step::GetDescriptor;
        if (const Fault* fault = faults_.next(step)) {
            switch (fault->kind) {
            case FaultKind::Fail: return fail_errno(step);
            case FaultKind::Timeout: delay_ms = timeout_ms; return -ETIMEDOUT;
            case FaultKind::Short: limit = static_cast<std::size_t>(fault->value); break;
            case FaultKind::Empty: limit = 0; break;
            case FaultKind::Throw: break;  // refused on the command line
            }
        }
        if (type == DT_STRING) {
            const auto text = instrument_.string_text(index);
            if (!text) return -EPIPE;
            // A short or empty string is the device's own: its descriptor says so.
            const std::size_t chars = std::min({text->size(), std::size_t{126}, limit});
            desc = {static_cast<std::uint8_t>(2 + 2 * chars), DT_STRING};
            for (std::size_t i = 0; i < chars; ++i) {
                desc.push_back(static_cast<std::uint8_t>((*text)[i]));
                desc.push_back(0);
            }
            limit = out.size();
        } else if (type == 0x01 && index == 0) {
            desc = instrument_.device_descriptor();
        } else if (type == 0x02 && index == 0 && instrument_.config().shape.has_configuration) {
            desc = instrument_.configuration_descriptor();
        } else {
            return -EPIPE;
        }
    }
    const std::size_t n = std::min({out.size(), desc.size(), limit});
    std::copy_n(desc.begin(), n, out.begin());
    return static_cast<long>(n);
}

long BridgePort::command(int request_type, int request, int value, int index,
                         std::span<const std::uint8_t> block, int timeout_ms, int& delay_ms) {
    const long code = block.size() >= 4 ? static_cast<long>(le32(block)) : -1;
    std::size_t n = block.size();
    if (const Fault* fault = faults_.next(Step::Command, code)) {
        switch (fault->kind) {
        case FaultKind::Fail: return fail_errno(Step::Command);
        case FaultKind::Timeout: delay_ms = timeout_ms; return -ETIMEDOUT;
        case FaultKind::Short: n = std::min(n, static_cast<std::size_t>(fault->value)); break;
        case FaultKind::Empty:
        case FaultKind::Throw: break;  // refused on the command line
        }
    }
    const int taken = instrument_.command(request_type, request, value, index, block.first(n),
                                          timeout_ms);
    // A short transfer reports what went out, whatever the device made of it.
    if (n < block.size()) return static_cast<long>(n);
    return taken;
}

long BridgePort::set_configuration(UMockdevIoctlData* arg, int& delay_ms) {
    IoctlData value = resolve(arg, 0, sizeof(int));
    if (!value) return -EFAULT;
    if (const Fault* fault = faults_.next(Step::SetConfiguration)) {
        if (fault->kind == FaultKind::Timeout) {
            delay_ms = SET_CONFIGURATION_TIMEOUT_MS;
            return -ETIMEDOUT;
        }
        return fail_errno(Step::SetConfiguration);
    }
    const int wanted = as<int>(value);
    const auto desc = instrument_.configuration_descriptor();
    const bool known = instrument_.config().shape.has_configuration && desc.size() > 5 &&
                       desc[5] == wanted;
    trace("SETCONFIGURATION " + std::to_string(wanted));
    return known || wanted == 0 || wanted == -1 ? 0 : -EINVAL;
}

long BridgePort::claim_interface(UMockdevIoctlData* arg) {
    IoctlData value = resolve(arg, 0, sizeof(int));
    if (!value) return -EFAULT;
    if (faults_.next(Step::ClaimInterface)) return fail_errno(Step::ClaimInterface);
    const int number = as<int>(value);
    trace("CLAIMINTERFACE " + std::to_string(number));
    return has_interface(number) ? 0 : -ENOENT;
}

long BridgePort::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    IoctlData urb_data = resolve(arg, 0, sizeof(usbdevfs_urb));
    if (!urb_data) return -EFAULT;
    auto& urb = as<usbdevfs_urb>(urb_data);
    if (urb.type != USBDEVFS_URB_TYPE_BULK || urb.buffer_length < 0) return -EINVAL;
    const bool in = (urb.endpoint & 0x80) != 0;
    const Step step = in ? Step::BulkRead : Step::BulkWrite;
    IoctlData buffer = resolve(urb_data.get(), offsetof(usbdevfs_urb, buffer),
                               static_cast<std::size_t>(urb.buffer_length));
    if (urb.buffer_length > 0 && !buffer) return -EFAULT;

    std::span<std::uint8_t> bytes;
    if (buffer) bytes = {buffer->data, static_cast<std::size_t>(buffer->data_len)};
    ClientUrbs& urbs = urbs_of(client);
    const Urb done{urb_data->client_addr};
    if (const Fault* fault = faults_.next(step)) {
        switch (fault->kind) {
        case FaultKind::Fail:
            // Refused at the submission: the one failure that libusb-0.1 reports at once.
            // A failing reap would keep it polling until its time-out.
            trace(std::string(in ? "bulk IN" : "bulk OUT") + " refused");
            return fail_errno(step);
        case FaultKind::Timeout:
            // Never answered: libusb gives up on its own clock and discards it.
            urbs.flying.push_back(done.address);
            trace(std::string(in ? "bulk IN" : "bulk OUT") + " never answered");
            return 0;
        case FaultKind::Short:
            bytes = bytes.first(std::min(bytes.size(), static_cast<std::size_t>(fault->value)));
            break;
        case FaultKind::Empty:
        case FaultKind::Throw: break;  // refused on the command line
        }
    }
    // No time-out for the model: the host's own clock decides when it gives up.
    const int moved = in ? instrument_.bulk_in(urb.endpoint, bytes, 0)
                         : instrument_.bulk_out(urb.endpoint, bytes, 0);
    trace(std::string(in ? "bulk IN " : "bulk OUT ") + std::to_string(urb.buffer_length) +
          " -> " + std::to_string(moved));
    if (moved == -ETIMEDOUT) {
        urbs.flying.push_back(done.address);
        return 0;
    }
    if (moved == -EINVAL || moved == -ENODEV || moved == -EBADF) return moved;
    // Anything else ends the URB with that status; libusb-0.1 reports what moved.
    urb.actual_length = std::max(moved, 0);
    urb.status = std::min(moved, 0);
    urbs.done.push_back(done);
    return 0;
}

long BridgePort::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg, bool wait) {
    ClientUrbs& urbs = urbs_of(client);
    if (urbs.done.empty()) {
        // A blocking reap with nothing to come would hang the client for good.
        if (wait) trace("blocking reap with nothing to reap");
        return -EAGAIN;
    }
    const Urb urb = urbs.done.front();
    urbs.done.pop_front();
    IoctlData slot = resolve(arg, 0, sizeof(void*));
    if (!slot) return -EFAULT;
    std::memcpy(slot->data, &urb.address, sizeof(void*));
    if (urb.write_status) {
        // Finished after its submission: its status goes back with the reap.
        IoctlData finished = resolve(slot.get(), 0, sizeof(usbdevfs_urb));
        if (!finished) return -EFAULT;
        as<usbdevfs_urb>(finished).status = urb.status;
        as<usbdevfs_urb>(finished).actual_length = 0;
    }
    return 0;
}

long BridgePort::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    ClientUrbs& urbs = urbs_of(client);
    gulong address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    auto it = std::find(urbs.flying.begin(), urbs.flying.end(), address);
    if (it == urbs.flying.end()) return -EINVAL;
    urbs.flying.erase(it);
    urbs.done.push_back({address, true, -ENOENT});
    trace("URB discarded");
    return 0;
}

}  // namespace quillon::sim
