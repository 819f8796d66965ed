// Presence on the bus over virtual time: the scan snapshot, plugging, restarts and resets.
#include "sim_fixture.h"

#include <cerrno>

namespace quillon::sim::testing {
namespace {

std::vector<unsigned> devnums_listed(SimUsb& usb) {
    std::vector<unsigned> devnums;
    for (struct usb_device* dev = usb.get_busses()->devices; dev; dev = dev->next) {
        devnums.push_back(dev->devnum);
    }
    return devnums;
}

TEST(Snapshot, ListIsWhatTheLastScanSaw) {
    VirtualClock clock;
    SimUsb usb{clock};
    const int bus = usb.add_bus();
    SimInstrument& late = usb.add_instrument(bus);     // devnum 2
    SimInstrument& leaving = usb.add_instrument(bus);  // devnum 3
    late.unplug_at(5000);  // its times may come in any order
    late.plug_in_at(1000);
    leaving.unplug_at(500);

    usb.init();
    EXPECT_EQ(usb.find_busses(), 1);
    EXPECT_EQ(usb.find_devices(), 1);
    EXPECT_EQ(devnums_listed(usb), std::vector<unsigned>{3});

    clock.sleep_ms(999);
    EXPECT_FALSE(leaving.present());
    EXPECT_FALSE(late.present());
    // Gone from the bus but not from the list until the next scan; its node is gone.
    struct usb_device* stale = usb.get_busses()->devices;
    ASSERT_NE(stale, nullptr);
    EXPECT_EQ(usb.open(stale), nullptr);
    EXPECT_STREQ(usb.strerror(), "failed to open /dev/bus/usb/001/003: No such file or directory");
    EXPECT_EQ(usb.calls_named("usb_open").back().result, -ENOENT);

    clock.sleep_ms(1);
    EXPECT_TRUE(late.present());
    EXPECT_EQ(usb.find_busses(), 0);
    EXPECT_EQ(usb.find_devices(), 2);  // one went, one came
    EXPECT_EQ(devnums_listed(usb), std::vector<unsigned>{2});
    EXPECT_NE(usb.open(usb.get_busses()->devices), nullptr);
    clock.sleep_ms(4000);
    EXPECT_FALSE(late.present());
}

TEST(Snapshot, UnpluggedAndPluggedBackComesUnderANewNumber) {
    VirtualClock clock;
    SimUsb usb{clock};
    SimInstrument& instrument = usb.add_instrument(usb.add_bus());
    instrument.unplug_at(100);
    instrument.plug_in_at(300);
    usb.find_busses();
    usb.find_devices();
    struct usb_device* before = usb.get_busses()->devices;
    EXPECT_EQ(before->devnum, 2);

    clock.sleep_ms(200);
    EXPECT_FALSE(instrument.present());
    clock.sleep_ms(100);
    EXPECT_TRUE(instrument.present());
    EXPECT_EQ(instrument.devnum(), 3);
    EXPECT_EQ(instrument.generation(), 1u);
    // Back on the bus, but what the old scan listed is another enumeration.
    EXPECT_EQ(usb.open(before), nullptr);
    usb.find_devices();
    EXPECT_EQ(devnums_listed(usb), std::vector<unsigned>{3});
    EXPECT_NE(usb.open(usb.get_busses()->devices), nullptr);
}

// Every call on a handle of an earlier enumeration but close answers -ENODEV.
void expect_handle_dead(SimUsb& usb, usb_dev_handle* old) {
    char buffer[64] = {};
    Bytes reset = RESET;
    EXPECT_EQ(usb.set_configuration(old, 1), -ENODEV);
    EXPECT_EQ(usb.claim_interface(old, 1), -ENODEV);
    EXPECT_EQ(usb.release_interface(old, 1), -ENODEV);
    EXPECT_EQ(usb.get_descriptor(old, USB_DT_CONFIG, 0, buffer, 32), -ENODEV);
    EXPECT_EQ(usb.get_string_simple(old, 2, buffer, 7), -ENODEV);
    EXPECT_EQ(usb.control_msg(old, VENDOR_OUT, COMMAND, VALUE, 0,
                              reinterpret_cast<char*>(reset.data()), 4, 1000),
              -ENODEV);
    EXPECT_STREQ(usb.strerror(), "error sending control message: No such device");
    EXPECT_EQ(usb.bulk_read(old, BULK_IN, buffer, 64, 100), -ENODEV);
    EXPECT_EQ(usb.bulk_write(old, BULK_OUT, buffer, 64, 1000), -ENODEV);
    EXPECT_EQ(usb.close(old), 0);
    EXPECT_EQ(usb.open_handles(), 0);
    EXPECT_EQ(usb.claimed_interfaces(), 0);
}

struct DropCase {
    const char* name;
    bool start_in_loader;
    bool button_held;
    bool returns;
    const Bytes& command;
    Mode back_in;
};

const DropCase kDrops[] = {
    {"restart_button_held", false, true, true, RESTART, Mode::Loader},
    {"restart_button_released", false, false, true, RESTART, Mode::Application},
    {"restart_from_the_loader_with_button_held", true, true, true, RESTART, Mode::Loader},
    {"reset_from_the_loader", true, true, true, RESET, Mode::Application},
    {"reset", false, false, true, RESET, Mode::Application},
    {"restart_never_returns", false, true, false, RESTART, Mode::Loader},
};

class Drops : public SimBus, public ::testing::WithParamInterface<DropCase> {
protected:
    Drops() : SimBus(config()) {}
    static InstrumentConfig config() {
        InstrumentConfig c;
        c.reenumerate_ms = 800;
        c.returns_after_restart = GetParam().returns;
        return c;
    }
};

TEST_P(Drops, OffTheBusThenBackUnderANewNumber) {
    const DropCase& c = GetParam();
    if (c.start_in_loader) enter_loader();
    ASSERT_EQ(usb.claim_interface(handle, 1), 0);
    const unsigned devnum_before = instrument.devnum();
    const std::uint32_t generation_before = instrument.generation();

    instrument.set_power_button(c.button_held);
    EXPECT_EQ(send(c.command), 4);  // the transfer completes before the device drops
    instrument.set_power_button(false);
    EXPECT_EQ(instrument.mode(), c.back_in);
    EXPECT_EQ(instrument.generation(), generation_before + 1);
    EXPECT_FALSE(instrument.present());
    usb_dev_handle* old = handle;

    clock.sleep_ms(799);
    EXPECT_EQ(scan_and_open(), nullptr);  // not listed yet
    clock.sleep_ms(1);
    EXPECT_EQ(instrument.present(), c.returns);
    expect_handle_dead(usb, old);  // also once the instrument is back
    if (!c.returns) {
        clock.sleep_ms(100000);
        EXPECT_FALSE(instrument.present());
        EXPECT_EQ(scan_and_open(), nullptr);
        return;
    }
    handle = scan_and_open();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(usb.get_busses()->devices->devnum, devnum_before + 1);
    // Its mode shows in what it accepts: the loader erases, the firmware stalls it.
    EXPECT_EQ(send(erase_block(APP_BASE, 1)), c.back_in == Mode::Loader ? 12 : -EPIPE);
    EXPECT_EQ(instrument.restarts() + instrument.resets(), c.start_in_loader ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Reenumeration, Drops, ::testing::ValuesIn(kDrops),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Devnums, EachBusHandsOutItsOwn) {
    VirtualClock clock;
    SimUsb usb{clock};
    const int first = usb.add_bus();
    const int second = usb.add_bus();
    usb.add_foreign_device(first, 0x1234, 0x0001);
    SimInstrument& a = usb.add_instrument(first);
    SimInstrument& b = usb.add_instrument(second);
    EXPECT_EQ(a.devnum(), 3);
    EXPECT_EQ(b.devnum(), 2);
}

}  // namespace
}  // namespace quillon::sim::testing
