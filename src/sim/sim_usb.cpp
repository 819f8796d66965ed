#include "sim/sim_usb.h"

#include "sim/bus_device.h"
#include "sim/bus_snapshot.h"
#include "sim/error_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace quillon::sim {

namespace {

// libusb-0.1 gives these calls no time-out argument and uses its own.
constexpr int CONTROL_TIMEOUT_MS = 1000;            // descriptor and string reads
constexpr int SET_CONFIGURATION_TIMEOUT_MS = 5000;  // the kernel's, for SET_CONFIGURATION

Call call_of(std::string name, std::vector<long> args = {}) {
    Call call;
    call.name = std::move(name);
    call.args = std::move(args);
    return call;
}

// Records a call whatever way it ends, also when it throws (then with result 0).
template <typename Body>
auto recorded(std::vector<Call>& calls, Call call, Body&& body) {
    try {
        auto result = body(call);
        if constexpr (!std::is_pointer_v<decltype(result)>) call.result = result;
        calls.push_back(std::move(call));
        return result;
    } catch (...) {
        calls.push_back(std::move(call));
        throw;
    }
}

std::uint32_t le32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::size_t clamp_size(long limit, int size) {
    return static_cast<std::size_t>(std::clamp(limit, 0L, static_cast<long>(size)));
}

}  // namespace

struct SimUsb::State {
    explicit State(Clock& c) : clock(c) {}

    struct Handle {
        int device;
        std::uint32_t generation;  // of the enumeration it was opened on
        std::vector<int> claimed;
    };

    Clock& clock;
    std::vector<BusDevice> devices;
    std::vector<int> instruments;           // device indices of the instruments
    std::vector<std::uint8_t> last_devnum;  // per bus; 1 is the root hub
    BusSnapshot snapshot;
    std::unordered_map<const usb_dev_handle*, std::unique_ptr<Handle>> handles;
    // One buffer for the text, as the library keeps it: a pointer that usb_strerror gave
    // out stays valid and shows the latest error.
    char error[1024] = "No error";

    BusDevice& device(int index) { return devices[static_cast<std::size_t>(index)]; }

    void check_bus(int bus) const {
        if (bus < 0 || bus >= static_cast<int>(last_devnum.size())) {
            throw std::out_of_range("no such bus");
        }
    }

    // A hub hands out the next free address; past 127 it wraps round to the first.
    std::uint8_t next_devnum(int bus) {
        auto& last = last_devnum[static_cast<std::size_t>(bus)];
        last = last >= 127 ? 2 : last + 1;
        return last;
    }

    int fail(const std::string& what, int err) {
        std::snprintf(error, sizeof error, "%s", error_text(what, err).c_str());
        return err;
    }

    // The handle behind `h`, or null with the error set in `err`: an unknown handle fails
    // as a closed file descriptor would, one of an earlier enumeration with -ENODEV.
    Handle* enter(Call& call, usb_dev_handle* h, const std::string& what, int& err) {
        auto it = handles.find(h);
        if (it == handles.end()) {
            err = fail(what, -EBADF);
            return nullptr;
        }
        Handle* handle = it->second.get();
        call.device = handle->device;
        const BusDevice& d = device(handle->device);
        if (!d.present() || d.generation() != handle->generation) {
            err = fail(what, -ENODEV);
            return nullptr;
        }
        return handle;
    }

    // Counts the call and applies a failing fault: true when that settled the result.
    // Short and Empty let the call go on, moving no more than `limit` bytes.
    bool inject(Call& call, Step step, long code, const std::string& what, int timeout_ms,
                int& result, long& limit) {
        BusDevice& d = device(call.device);
        const Fault* fault = d.faults().next(step, code);
        if (!fault) return false;
        switch (fault->kind) {
        case FaultKind::Throw:
            throw SimulatedException(call.name + ": simulated failure");
        case FaultKind::Fail:
            result = fail(what, fail_errno(step));
            return true;
        case FaultKind::Timeout:
            // Open and claim move nothing on the bus: they fail at once.
            result = timeout_ms > 0 ? d.wait_out(clock, timeout_ms) : -ETIMEDOUT;
            fail(step == Step::BulkRead || step == Step::BulkWrite ? bulk_error(result) : what,
                 result);
            return true;
        case FaultKind::Short:
            limit = fault->value;
            return false;
        case FaultKind::Empty:
            limit = 0;
            return false;
        }
        return false;
    }

    bool claimed_elsewhere(const Handle& self, int interface) const {
        return std::any_of(handles.begin(), handles.end(), [&](const auto& entry) {
            const Handle& other = *entry.second;
            return &other != &self && other.device == self.device &&
                   other.generation == self.generation &&
                   std::find(other.claimed.begin(), other.claimed.end(), interface) !=
                       other.claimed.end();
        });
    }
};

SimUsb::SimUsb(Clock& clock) : state_(std::make_unique<State>(clock)) {}
SimUsb::~SimUsb() = default;

// --- building the bus

int SimUsb::add_bus() {
    state_->last_devnum.push_back(1);
    return static_cast<int>(state_->last_devnum.size()) - 1;
}

SimInstrument& SimUsb::add_instrument(int bus, InstrumentConfig config) {
    state_->check_bus(bus);
    auto instrument = std::make_unique<SimInstrument>(std::move(config), state_->clock);
    instrument->set_address_allocator([s = state_.get(), bus] { return s->next_devnum(bus); });
    state_->instruments.push_back(static_cast<int>(state_->devices.size()));
    state_->devices.emplace_back(bus, std::move(instrument));
    return *state_->devices.back().instrument();
}

void SimUsb::add_foreign_device(int bus, std::uint16_t vendor_id, std::uint16_t product_id) {
    state_->check_bus(bus);
    state_->devices.emplace_back(bus,
                                 ForeignDevice(vendor_id, product_id, state_->next_devnum(bus)));
}

void SimUsb::add_fault(int device, Fault fault) {
    if (device < 0 || device >= static_cast<int>(state_->devices.size())) {
        throw std::out_of_range("add_fault: no such device");
    }
    state_->device(device).faults().add(fault);
}

int SimUsb::first_instrument_device() const {
    return state_->instruments.empty() ? -1 : state_->instruments.front();
}

SimInstrument& SimUsb::instrument(int n) {
    return *state_->device(state_->instruments.at(static_cast<std::size_t>(n))).instrument();
}

// --- what a test reads

std::vector<Call> SimUsb::calls_named(const std::string& name) const {
    std::vector<Call> named;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(named),
                 [&](const Call& c) { return c.name == name; });
    return named;
}

int SimUsb::open_handles() const { return static_cast<int>(state_->handles.size()); }

int SimUsb::claimed_interfaces() const {
    int claimed = 0;
    for (const auto& entry : state_->handles) {
        claimed += static_cast<int>(entry.second->claimed.size());
    }
    return claimed;
}

// --- the library

void SimUsb::init() {
    recorded(calls_, call_of("usb_init"), [](Call&) { return 0; });
}

int SimUsb::find_busses() {
    return recorded(calls_, call_of("usb_find_busses"), [&](Call&) {
        return state_->snapshot.list_busses(static_cast<int>(state_->last_devnum.size()));
    });
}

int SimUsb::find_devices() {
    return recorded(calls_, call_of("usb_find_devices"), [&](Call&) {
        State& s = *state_;
        // Bus by bus, each in the order its devices were added.
        std::vector<DeviceListing> listings;
        for (int bus = 0; bus < s.snapshot.listed_busses(); ++bus) {
            for (int i = 0; i < static_cast<int>(s.devices.size()); ++i) {
                const auto& d = s.device(i);
                if (d.bus() == bus && d.present()) listings.push_back(d.listing(i));
            }
        }
        return s.snapshot.list_devices(listings);
    });
}

struct usb_bus* SimUsb::get_busses() {
    return recorded(calls_, call_of("usb_get_busses"),
                    [&](Call&) { return state_->snapshot.head(); });
}

usb_dev_handle* SimUsb::open(struct usb_device* dev) {
    return recorded(calls_, call_of("usb_open"), [&](Call& call) -> usb_dev_handle* {
        State& s = *state_;
        const DeviceListing* listing = s.snapshot.find(dev);
        if (!listing) {
            call.result = s.fail("failed to open device", -ENODEV);
            return nullptr;
        }
        call.device = listing->device;
        char node[32];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03u", listing->bus + 1,
                      unsigned{listing->devnum});
        const std::string what = std::string("failed to open ") + node;
        // The node of a device that left the bus is gone, even when it is back by now.
        const auto& d = s.device(listing->device);
        if (!d.present() || d.generation() != listing->generation) {
            call.result = s.fail(what, -ENOENT);
            return nullptr;
        }
        int result = 0;
        long limit = 0;
        if (s.inject(call, Step::Open, -1, what, 0, result, limit)) {
            call.result = result;
            return nullptr;
        }
        auto handle = std::make_unique<State::Handle>(
            State::Handle{listing->device, listing->generation, {}});
        auto* h = reinterpret_cast<usb_dev_handle*>(handle.get());
        s.handles.emplace(h, std::move(handle));
        return h;
    });
}

int SimUsb::close(usb_dev_handle* dev) {
    return recorded(calls_, call_of("usb_close"), [&](Call& call) {
        auto it = state_->handles.find(dev);
        if (it == state_->handles.end()) return state_->fail("tried to close device", -EBADF);
        call.device = it->second->device;
        // Closing also gives back every interface the handle still held.
        state_->handles.erase(it);
        return 0;
    });
}

int SimUsb::set_configuration(usb_dev_handle* dev, int configuration) {
    return recorded(calls_, call_of("usb_set_configuration", {configuration}), [&](Call& call) {
        State& s = *state_;
        const std::string what = "could not set config " + std::to_string(configuration);
        int result = 0;
        State::Handle* h = s.enter(call, dev, what, result);
        long limit = -1;
        if (!h || s.inject(call, Step::SetConfiguration, -1, what, SET_CONFIGURATION_TIMEOUT_MS,
                           result, limit)) {
            return result;
        }
        // 0 unconfigures; the device has configuration 1 only.
        if (configuration != 0 && configuration != 1) return s.fail(what, -EINVAL);
        if (s.claimed_elsewhere(*h, s.device(h->device).interface_number())) {
            return s.fail(what, -EBUSY);
        }
        return limit >= 0 ? static_cast<int>(limit) : 0;
    });
}

int SimUsb::claim_interface(usb_dev_handle* dev, int interface) {
    return recorded(calls_, call_of("usb_claim_interface", {interface}), [&](Call& call) {
        State& s = *state_;
        const std::string what = "could not claim interface " + std::to_string(interface);
        int result = 0;
        State::Handle* h = s.enter(call, dev, what, result);
        long limit = -1;
        if (!h || s.inject(call, Step::ClaimInterface, -1, what, 0, result, limit)) {
            return result;
        }
        if (interface != s.device(h->device).interface_number()) return s.fail(what, -EINVAL);
        if (s.claimed_elsewhere(*h, interface)) return s.fail(what, -EBUSY);
        if (std::find(h->claimed.begin(), h->claimed.end(), interface) == h->claimed.end()) {
            h->claimed.push_back(interface);
        }
        return limit >= 0 ? static_cast<int>(limit) : 0;
    });
}

int SimUsb::release_interface(usb_dev_handle* dev, int interface) {
    return recorded(calls_, call_of("usb_release_interface", {interface}), [&](Call& call) {
        State& s = *state_;
        const std::string what = "could not release intf " + std::to_string(interface);
        int result = 0;
        State::Handle* h = s.enter(call, dev, what, result);
        if (!h) return result;
        auto it = std::find(h->claimed.begin(), h->claimed.end(), interface);
        if (it == h->claimed.end()) return s.fail(what, -EINVAL);
        h->claimed.erase(it);
        return 0;
    });
}

int SimUsb::get_descriptor(usb_dev_handle* dev, unsigned char type, unsigned char index,
                           void* buf, int size) {
    return recorded(calls_, call_of("usb_get_descriptor", {type, index, size}), [&](Call& call) {
        State& s = *state_;
        int result = 0;
        State::Handle* h = s.enter(call, dev, CONTROL_ERROR, result);
        long limit = size;
        if (!h || s.inject(call, Step::GetDescriptor, -1, CONTROL_ERROR, CONTROL_TIMEOUT_MS,
                           result, limit)) {
            return result;
        }
        if (size < 0 || (size > 0 && !buf)) return s.fail(CONTROL_ERROR, -EINVAL);
        const auto bytes = s.device(h->device).descriptor(type, index);
        if (!bytes) return s.fail(CONTROL_ERROR, -EPIPE);
        const std::size_t n = std::min(clamp_size(limit, size), bytes->size());
        std::memcpy(buf, bytes->data(), n);
        call.data.assign(bytes->begin(), bytes->begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    });
}

int SimUsb::get_string_simple(usb_dev_handle* dev, int index, char* buf, size_t buflen) {
    const auto buffer_size = static_cast<long>(buflen);
    return recorded(calls_, call_of("usb_get_string_simple", {index, buffer_size}),
                    [&](Call& call) {
        State& s = *state_;
        int result = 0;
        State::Handle* h = s.enter(call, dev, CONTROL_ERROR, result);
        long limit = -1;
        if (!h || s.inject(call, Step::GetString, -1, CONTROL_ERROR, CONTROL_TIMEOUT_MS, result,
                           limit)) {
            return result;
        }
        if (buflen == 0 || !buf) return s.fail(CONTROL_ERROR, -EINVAL);
        const auto bytes = s.device(h->device).descriptor(USB_DT_STRING, index);
        if (!bytes) return s.fail(CONTROL_ERROR, -EPIPE);
        // As the library does: one character per UTF-16 unit, '?' beyond Latin-1, at
        // most buflen - 1 of them and a terminating zero.
        std::size_t chars = 0;
        for (std::size_t at = 2; at + 1 < bytes->size() && chars + 1 < buflen; at += 2) {
            buf[chars++] = (*bytes)[at + 1] ? '?' : static_cast<char>((*bytes)[at]);
        }
        if (limit >= 0) chars = std::min(chars, static_cast<std::size_t>(limit));
        buf[chars] = '\0';
        call.data.assign(buf, buf + chars);
        // A Short fault reports the count it was given, whatever landed in the buffer.
        return limit >= 0 ? static_cast<int>(limit) : static_cast<int>(chars);
    });
}

int SimUsb::control_msg(usb_dev_handle* dev, int requesttype, int request, int value, int index,
                        char* bytes, int size, int timeout) {
    Call start = call_of("usb_control_msg", {requesttype, request, value, index, size, timeout});
    const bool out = (requesttype & USB_ENDPOINT_IN) == 0;
    if (out && bytes && size > 0) start.data.assign(bytes, bytes + size);
    return recorded(calls_, std::move(start), [&](Call& call) {
        State& s = *state_;
        int result = 0;
        State::Handle* h = s.enter(call, dev, CONTROL_ERROR, result);
        const long code = out && bytes && size >= 4 ? static_cast<long>(le32(bytes)) : -1;
        long limit = size;
        if (!h || s.inject(call, Step::Command, code, CONTROL_ERROR, timeout, result, limit)) {
            return result;
        }
        if (size < 0 || (size > 0 && !bytes)) return s.fail(CONTROL_ERROR, -EINVAL);
        const std::size_t n = clamp_size(limit, size);
        auto& d = s.device(h->device);
        if (!out) {
            // Of the IN requests only the standard GET_DESCRIPTOR is answered.
            if (requesttype != USB_ENDPOINT_IN || request != USB_REQ_GET_DESCRIPTOR) {
                return s.fail(CONTROL_ERROR, -EPIPE);
            }
            const auto desc = d.descriptor(value >> 8 & 0xFF, value & 0xFF);
            if (!desc) return s.fail(CONTROL_ERROR, -EPIPE);
            const std::size_t got = std::min(n, desc->size());
            std::memcpy(bytes, desc->data(), got);
            call.data.assign(desc->begin(), desc->begin() + static_cast<std::ptrdiff_t>(got));
            return static_cast<int>(got);
        }
        // A foreign device knows no vendor request and stalls it.
        const int taken = d.command(requesttype, request, value, index,
                                    {reinterpret_cast<const std::uint8_t*>(bytes), n}, timeout);
        // A short transfer reports what went out, whatever the device made of it.
        if (n < static_cast<std::size_t>(size)) return static_cast<int>(n);
        return taken < 0 ? s.fail(CONTROL_ERROR, taken) : taken;
    });
}

int SimUsb::bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    return recorded(calls_, call_of("usb_bulk_read", {ep, size, timeout}), [&](Call& call) {
        State& s = *state_;
        int result = 0;
        State::Handle* h = s.enter(call, dev, SUBMIT_ERROR, result);
        long limit = size;
        if (!h || s.inject(call, Step::BulkRead, -1, REAP_ERROR, timeout, result, limit)) {
            return result;
        }
        if (size < 0 || (size > 0 && !bytes)) return s.fail(SUBMIT_ERROR, -EINVAL);
        auto& d = s.device(h->device);
        // The library sets the direction bit itself; a foreign device has no bulk endpoint.
        const int got = d.bulk_in(
            ep | USB_ENDPOINT_IN,
            {reinterpret_cast<std::uint8_t*>(bytes), clamp_size(limit, size)}, timeout);
        if (got < 0) return s.fail(bulk_error(got), got);
        call.data.assign(bytes, bytes + got);
        return got;
    });
}

int SimUsb::bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
    Call start = call_of("usb_bulk_write", {ep, size, timeout});
    if (bytes && size > 0) start.data.assign(bytes, bytes + size);
    return recorded(calls_, std::move(start), [&](Call& call) {
        State& s = *state_;
        int result = 0;
        State::Handle* h = s.enter(call, dev, SUBMIT_ERROR, result);
        long limit = size;
        if (!h || s.inject(call, Step::BulkWrite, -1, REAP_ERROR, timeout, result, limit)) {
            return result;
        }
        if (size < 0 || (size > 0 && !bytes)) return s.fail(SUBMIT_ERROR, -EINVAL);
        auto& d = s.device(h->device);
        // The library clears the direction bit itself.
        const int put = d.bulk_out(
            ep & ~USB_ENDPOINT_IN,
            {reinterpret_cast<const std::uint8_t*>(bytes), clamp_size(limit, size)}, timeout);
        return put < 0 ? s.fail(bulk_error(put), put) : put;
    });
}

const char* SimUsb::strerror() {
    calls_.push_back(call_of("usb_strerror"));
    return state_->error;
}

}  // namespace quillon::sim
