#pragma once
// Passes every call through to the simulated bus and times the bulk writes, the one USB
// call of the transfer loop.
#include "link/forwarding_usb_api.h"
#include "monotonic.h"

#include <vector>

namespace quillon::bench {

class TimedUsb final : public ForwardingUsbApi {
public:
    explicit TimedUsb(UsbApi& inner) : ForwardingUsbApi(inner) {
        bulk_write_us_.reserve(8192);
    }

    int bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                   int timeout) override {
        const std::int64_t start = monotonic_ns();
        const int result = ForwardingUsbApi::bulk_write(dev, ep, bytes, size, timeout);
        bulk_write_us_.push_back(us_since(start));
        return result;
    }

    const std::vector<double>& bulk_write_us() const { return bulk_write_us_; }

private:
    std::vector<double> bulk_write_us_;
};

}  // namespace quillon::bench
