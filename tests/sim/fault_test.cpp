// Fault switches: what each kind does to each call, when it strikes, and unplugging.
#include "sim_fixture.h"

#include <cerrno>

namespace quillon::sim::testing {
namespace {

struct FaultCase {
    const char* name;
    Fault fault;
    int result;
    const char* error;  // usb_strerror afterwards
    int elapsed_ms;     // virtual time the call took
};

constexpr const char* NO_ERROR = "No error";

Fault fault(Step step, FaultKind kind, int value = 0) {
    return {.step = step, .kind = kind, .value = value};
}

const FaultCase kFaultCases[] = {
    {"open_fails", fault(Step::Open, FaultKind::Fail), -EACCES,
     "failed to open /dev/bus/usb/001/002: Permission denied", 0},
    {"open_times_out", fault(Step::Open, FaultKind::Timeout), -ETIMEDOUT,
     "failed to open /dev/bus/usb/001/002: Connection timed out", 0},
    {"configuration_refused", fault(Step::SetConfiguration, FaultKind::Fail), -EBUSY,
     "could not set config 1: Device or resource busy", 0},
    {"configuration_times_out", fault(Step::SetConfiguration, FaultKind::Timeout), -ETIMEDOUT,
     "could not set config 1: Connection timed out", 5000},
    {"claim_refused", fault(Step::ClaimInterface, FaultKind::Fail), -EBUSY,
     "could not claim interface 1: Device or resource busy", 0},
    {"descriptor_fails", fault(Step::GetDescriptor, FaultKind::Fail), -EPIPE,
     "error sending control message: Broken pipe", 0},
    {"descriptor_times_out", fault(Step::GetDescriptor, FaultKind::Timeout), -ETIMEDOUT,
     "error sending control message: Connection timed out", 1000},
    {"descriptor_short", fault(Step::GetDescriptor, FaultKind::Short, 4), 4, NO_ERROR, 0},
    {"string_fails", fault(Step::GetString, FaultKind::Fail), -EPIPE,
     "error sending control message: Broken pipe", 0},
    {"string_times_out", fault(Step::GetString, FaultKind::Timeout), -ETIMEDOUT,
     "error sending control message: Connection timed out", 1000},
    {"string_empty", fault(Step::GetString, FaultKind::Empty), 0, NO_ERROR, 0},
    {"string_short", fault(Step::GetString, FaultKind::Short, 3), 3, NO_ERROR, 0},
    {"command_fails", fault(Step::Command, FaultKind::Fail), -EPIPE,
     "error sending control message: Broken pipe", 0},
    {"command_times_out", fault(Step::Command, FaultKind::Timeout), -ETIMEDOUT,
     "error sending control message: Connection timed out", 100},
    {"command_short", fault(Step::Command, FaultKind::Short, 8), 8, NO_ERROR, 0},
    {"read_fails", fault(Step::BulkRead, FaultKind::Fail), -EIO,
     "error reaping URB: Input/output error", 0},
    {"read_times_out", fault(Step::BulkRead, FaultKind::Timeout), -ETIMEDOUT,
     "error reaping URB: Connection timed out", 100},
    {"read_short", fault(Step::BulkRead, FaultKind::Short, 10), 10, NO_ERROR, 0},
    {"write_fails", fault(Step::BulkWrite, FaultKind::Fail), -EIO,
     "error reaping URB: Input/output error", 0},
    {"write_times_out", fault(Step::BulkWrite, FaultKind::Timeout), -ETIMEDOUT,
     "error reaping URB: Connection timed out", 1000},
    {"write_short", fault(Step::BulkWrite, FaultKind::Short, 20), 20, NO_ERROR, 0},
};

class Faults : public SimBus, public ::testing::WithParamInterface<FaultCase> {
public:
    void SetUp() override {}

    // Brings the instrument to where the faulty call makes sense.
    void prepare(Step step) {
        if (step == Step::Open) return;
        handle = scan_and_open();
        ASSERT_NE(handle, nullptr);
        if (step == Step::BulkRead) {
            ASSERT_EQ(send(read_block(APP_BASE, 64), 100), 12);
        }
        if (step == Step::BulkWrite) {
            enter_loader();
            ASSERT_EQ(send(erase_block(APP_BASE, 1)), 12);
            ASSERT_EQ(send(write_block(APP_BASE, 64)), 12);
        }
    }

    // The call the step names, with the arguments the program uses.
    int call(Step step) {
        char buffer[64];
        const Bytes data(64, 0x5A);
        switch (step) {
        case Step::Open:
            handle = scan_and_open();
            return usb.calls_named("usb_open").back().result;
        case Step::SetConfiguration: return usb.set_configuration(handle, 1);
        case Step::ClaimInterface: return usb.claim_interface(handle, 1);
        case Step::GetDescriptor: return usb.get_descriptor(handle, USB_DT_CONFIG, 0, buffer, 32);
        case Step::GetString: return usb.get_string_simple(handle, 2, buffer, 7);
        case Step::Command: return send(read_block(APP_BASE, 64), 100);
        case Step::BulkRead: return read(64).first;
        case Step::BulkWrite: return write(data);
        }
        return 0;
    }
};

TEST_P(Faults, EachKindOnEachCall) {
    const FaultCase& c = GetParam();
    usb.add_fault(c.fault);
    prepare(c.fault.step);
    const std::int64_t before = clock.now_ms();
    EXPECT_EQ(call(c.fault.step), c.result);
    EXPECT_EQ(clock.now_ms() - before, c.elapsed_ms);
    EXPECT_STREQ(usb.strerror(), c.error);

    // Only the first occurrence was covered: the same call now goes through.
    usb.clear_calls();
    if (c.fault.step == Step::BulkRead) {
        ASSERT_EQ(send(read_block(APP_BASE, 64), 100), 12);
    }
    if (c.fault.step == Step::BulkWrite) {
        ASSERT_EQ(send(write_block(APP_BASE + 64, 64)), 12);
    }
    EXPECT_GE(call(c.fault.step), 0);
}

TEST_P(Faults, ThrowIsRecordedAndMovesNothing) {
    Fault thrown = GetParam().fault;
    thrown.kind = FaultKind::Throw;
    usb.add_fault(thrown);
    prepare(thrown.step);
    const std::size_t calls = usb.calls().size();
    EXPECT_THROW(call(thrown.step), SimulatedException);
    ASSERT_GT(usb.calls().size(), calls);
    if (thrown.step == Step::BulkWrite) {
        EXPECT_EQ(instrument.read_flash(APP_BASE, 64), Bytes(64, 0xFF));
    }
}

INSTANTIATE_TEST_SUITE_P(Switches, Faults, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

class FaultTiming : public SimBus {};

TEST_F(FaultTiming, OccurrencesCountPerStepAndPerCommand) {
    usb.add_fault({.step = Step::BulkWrite, .kind = FaultKind::Fail, .first = 3, .times = 2});
    usb.add_fault({.step = Step::Command, .kind = FaultKind::Fail, .first = 2, .command = 9});
    enter_loader();  // a restart: no erase counted

    EXPECT_EQ(send(erase_block(APP_BASE, 1)), 12);
    EXPECT_EQ(send(read_block(APP_BASE, 4)), 12);
    EXPECT_EQ(send(erase_block(APP_BASE, 1)), -EPIPE);  // the second erase
    EXPECT_EQ(send(erase_block(APP_BASE, 1)), 12);

    ASSERT_EQ(send(write_block(APP_BASE, 64)), 12);
    std::vector<int> results;
    Bytes written;
    for (std::uint8_t packet = 1; packet <= 6; ++packet) {
        const Bytes data(16, packet);
        const int result = write(data);
        results.push_back(result);
        if (result > 0) written.insert(written.end(), data.begin(), data.end());
    }
    EXPECT_EQ(results, (std::vector<int>{16, 16, -EIO, -EIO, 16, 16}));
    // Failed packets never reached the flash: the later ones follow on.
    EXPECT_EQ(instrument.read_flash(APP_BASE, 64), written);
}

TEST_F(FaultTiming, ForEverUsesUpEveryTimeOut) {
    usb.add_fault({.step = Step::BulkRead, .kind = FaultKind::Timeout, .first = 2, .times = -1});
    ASSERT_EQ(send(read_block(APP_BASE, 256), 100), 12);
    const std::int64_t before = clock.now_ms();
    std::vector<int> results;
    for (int i = 0; i < 4; ++i) results.push_back(read(64, 100).first);
    EXPECT_EQ(results, (std::vector<int>{64, -ETIMEDOUT, -ETIMEDOUT, -ETIMEDOUT}));
    EXPECT_EQ(clock.now_ms() - before, 300);
}

TEST_F(FaultTiming, FaultsBelongToTheirDevice) {
    SimInstrument& second = usb.add_instrument(bus);
    usb.add_fault(1, {.step = Step::Open, .kind = FaultKind::Fail, .times = -1});
    EXPECT_NE(scan_and_open(0), nullptr);
    EXPECT_EQ(scan_and_open(1), nullptr);
    EXPECT_EQ(usb.calls_named("usb_open").back().device, 1);
    EXPECT_TRUE(second.present());
}

TEST_F(FaultTiming, ShortTransfersMoveOnlyWhatTheyReport) {
    // A command block cut to 8 bytes is no command: nothing is queued.
    usb.add_fault({.step = Step::Command, .kind = FaultKind::Short, .value = 8});
    usb.add_fault({.step = Step::BulkRead, .kind = FaultKind::Short, .first = 2, .value = 10});
    EXPECT_EQ(send(read_block(APP_BASE, 128), 100), 8);
    EXPECT_EQ(read(64).first, -ETIMEDOUT);

    ASSERT_EQ(send(read_block(APP_BASE, 128), 100), 12);
    const auto [got, bytes] = read(64);  // the second read: 10 bytes
    EXPECT_EQ(got, 10);
    EXPECT_EQ(bytes, instrument.read_flash(APP_BASE, 10));
    EXPECT_EQ(read(64).second, instrument.read_flash(APP_BASE + 10, 64));
}

TEST_F(FaultTiming, UnplugInTheMiddleOfATransfer) {
    // A read waiting for data ends the moment the device goes.
    const std::int64_t start = clock.now_ms();
    instrument.unplug_at(start + 40);
    EXPECT_EQ(read(64, 100).first, -ENODEV);
    EXPECT_EQ(clock.now_ms() - start, 40);
    EXPECT_STREQ(usb.strerror(), "error reaping URB: No such device");
}

TEST_F(FaultTiming, UnplugInTheMiddleOfTheImage) {
    enter_loader();
    ASSERT_EQ(send(erase_block(APP_BASE, 1)), 12);
    ASSERT_EQ(send(write_block(APP_BASE, 20 * 64)), 12);
    instrument.unplug_at(clock.now_ms() + 10);
    std::vector<int> results;
    for (int packet = 0; packet < 12; ++packet) {
        results.push_back(write(Bytes(64, 0x11)));
        clock.sleep_ms(1);
    }
    std::vector<int> expected(10, 64);
    expected.insert(expected.end(), 2, -ENODEV);
    EXPECT_EQ(results, expected);
    EXPECT_STREQ(usb.strerror(), "error submitting URB: No such device");
    EXPECT_EQ(instrument.read_flash(APP_BASE + 10 * 64 - 1, 2), (Bytes{0x11, 0xFF}));
}

}  // namespace
}  // namespace quillon::sim::testing
