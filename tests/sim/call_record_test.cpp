// The record of calls, handles and claims, and the error texts that go with them.
#include "sim_fixture.h"

#include <cerrno>

namespace quillon::sim::testing {
namespace {

class CallRecord : public SimBus {
public:
    // The instrument under test is the third device, behind a foreign one, so that
    // device indices are not all 0.
    void SetUp() override {
        usb.add_foreign_device(bus, 0x046D, 0xC077);
        usb.add_instrument(bus);
        handle = scan_and_open(2);
        usb.clear_calls();
    }
};

TEST_F(CallRecord, TransfersKeepTheirArgumentsAndBytes) {
    ASSERT_EQ(send(read_block(APP_BASE, 4), 100), 12);
    const auto [got, bytes] = read(64);
    ASSERT_EQ(got, 4);

    const auto& calls = usb.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "usb_control_msg");
    EXPECT_EQ(calls[0].args, (std::vector<long>{0x40, 3, 0x0200, 0, 12, 100}));
    EXPECT_EQ(hex(calls[0].data), "02 00 00 00 00 40 00 08 04 00 00 00");
    EXPECT_EQ(calls[0].result, 12);
    EXPECT_EQ(calls[0].device, 2);
    EXPECT_EQ(calls[1].name, "usb_bulk_read");
    EXPECT_EQ(calls[1].args, (std::vector<long>{0x83, 64, 100}));
    EXPECT_EQ(calls[1].data, instrument.read_flash(APP_BASE, 4));
    EXPECT_EQ(calls[1].result, 4);
}

TEST_F(CallRecord, ClaimsAndHandlesAreCounted) {
    EXPECT_EQ(usb.claim_interface(handle, 1), 0);
    EXPECT_EQ(usb.claim_interface(handle, 1), 0);  // claiming again changes nothing
    EXPECT_EQ(usb.claimed_interfaces(), 1);

    usb_dev_handle* second = scan_and_open(2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(usb.open_handles(), 2);
    EXPECT_EQ(usb.claim_interface(second, 1), -EBUSY);
    EXPECT_STREQ(usb.strerror(), "could not claim interface 1: Device or resource busy");
    EXPECT_EQ(usb.claim_interface(second, 0), -EINVAL);  // the instrument has interface 1 only
    EXPECT_EQ(usb.release_interface(second, 1), -EINVAL);
    EXPECT_STREQ(usb.strerror(), "could not release intf 1: Invalid argument");

    EXPECT_EQ(usb.release_interface(handle, 1), 0);
    EXPECT_EQ(usb.claimed_interfaces(), 0);
    EXPECT_EQ(usb.claim_interface(second, 1), 0);
    EXPECT_EQ(usb.close(second), 0);  // closing gives the claim back
    EXPECT_EQ(usb.claimed_interfaces(), 0);
    EXPECT_EQ(usb.close(handle), 0);
    EXPECT_EQ(usb.open_handles(), 0);
    EXPECT_EQ(usb.calls_named("usb_close").size(), 2u);
    EXPECT_EQ(usb.calls_named("usb_close")[0].device, 2);
}

TEST_F(CallRecord, ClosedOrUnknownHandlesFailWithoutHarm) {
    ASSERT_EQ(usb.close(handle), 0);
    EXPECT_EQ(usb.close(handle), -EBADF);
    EXPECT_STREQ(usb.strerror(), "tried to close device: Bad file descriptor");
    EXPECT_EQ(usb.close(nullptr), -EBADF);
    char buffer[64] = {};
    EXPECT_EQ(usb.bulk_write(handle, BULK_OUT, buffer, 64, 1000), -EBADF);
    EXPECT_STREQ(usb.strerror(), "error submitting URB: Bad file descriptor");
    EXPECT_EQ(usb.set_configuration(handle, 1), -EBADF);
    EXPECT_EQ(usb.calls().back().device, -1);
}

TEST_F(CallRecord, TheLibrarySetsTheDirectionBit) {
    // libusb-0.1 ORs 0x80 into a read's endpoint and clears it from a write's.
    ASSERT_EQ(send(read_block(APP_BASE, 8), 100), 12);
    char buffer[8];
    EXPECT_EQ(usb.bulk_read(handle, 0x03, buffer, 8, 100), 8);
    EXPECT_EQ(usb.calls().back().args[0], 0x03);
    EXPECT_EQ(usb.bulk_read(handle, 0x81, buffer, 8, 100), -EINVAL);
    EXPECT_STREQ(usb.strerror(), "error submitting URB: Invalid argument");
}

TEST_F(CallRecord, ForeignDeviceStallsCommands) {
    usb_dev_handle* foreign = scan_and_open(1);
    ASSERT_NE(foreign, nullptr);
    Bytes restart = RESTART;
    EXPECT_EQ(usb.control_msg(foreign, VENDOR_OUT, COMMAND, VALUE, 0,
                              reinterpret_cast<char*>(restart.data()), 4, 100),
              -EPIPE);
    EXPECT_EQ(usb.claim_interface(foreign, 1), -EINVAL);
    EXPECT_EQ(usb.instrument(1).restarts(), 0);
}

}  // namespace
}  // namespace quillon::sim::testing
