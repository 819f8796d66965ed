#include "link/link_fixture.h"

#include <algorithm>

namespace quillon {
namespace {

using sim::Fault;
using sim::FaultKind;
using sim::InstrumentConfig;
using sim::Step;
using testing::SameLines;

InstrumentConfig model(const std::string& product) {
    InstrumentConfig config;
    config.product = product;
    return config;
}

// The verbose dump line of the first 32 bytes of a configuration descriptor.
std::string dump_of(const std::vector<std::uint8_t>& descriptor) {
    std::string text;
    for (std::size_t i = 0; i < 32 && i < descriptor.size(); ++i) {
        text += static_cast<char>(descriptor[i] + '0');
    }
    return text;
}

class OpenInstrument : public testing::LinkFixture {};

TEST_F(OpenInstrument, VerboseWalkOfTr518SecondOfTwoDevices) {
    const int bus = usb.add_bus();
    usb.add_foreign_device(bus, 0x046D, 0xC077);
    usb.add_instrument(bus);
    link.set_verbose(true);

    EXPECT_EQ(link.open_instrument(), OPEN_OK);

    const std::string dump = dump_of(usb.instrument().configuration_descriptor());
    EXPECT_EQ(dump.substr(0, 4), "92P0");
    EXPECT_TRUE(SameLines({"Begin USB transfer.", "Begin USB transfer.", "in usb", "in usb dev",
                           ".", "in usb dev", "idVendor,idProduct OK", "usbhandle OK",
                           "wMaxPacketSize: 64;", dump, "Configuration OK", "TR-518",
                           "Instrument opened.", ":"},
                          log.lines));
    EXPECT_NE(link.usb_handle(), nullptr);
    EXPECT_EQ(link.max_packet_size(), 64);
    EXPECT_EQ(usb.claimed_interfaces(), 1);
    EXPECT_EQ(clock.waits(), std::vector<int>{150});
    EXPECT_EQ(log.repaints, 0);
}

TEST_F(OpenInstrument, QuietWalkWritesOnlyTheModelLine) {
    const int bus = usb.add_bus();
    usb.add_foreign_device(bus, 0x046D, 0xC077);
    usb.add_instrument(bus);

    EXPECT_EQ(link.open_instrument(), OPEN_OK);
    EXPECT_TRUE(SameLines({"Instrument opened."}, log.lines));
}

TEST_F(OpenInstrument, MakesTheLibraryCallsInOrderWithTheirArguments) {
    usb.add_instrument(usb.add_bus());
    link.open_instrument();

    std::vector<std::string> names;
    for (const auto& call : usb.calls()) names.push_back(call.name);
    EXPECT_TRUE(SameLines({"usb_init", "usb_find_busses", "usb_find_devices", "usb_get_busses",
                           "usb_get_busses", "usb_open", "usb_get_descriptor",
                           "usb_set_configuration", "usb_claim_interface",
                           "usb_get_string_simple"},
                          names));
    EXPECT_EQ(usb.calls_named("usb_get_descriptor")[0].args, (std::vector<long>{2, 0, 32}));
    EXPECT_EQ(usb.calls_named("usb_set_configuration")[0].args, std::vector<long>{1});
    EXPECT_EQ(usb.calls_named("usb_claim_interface")[0].args, std::vector<long>{1});
    EXPECT_EQ(usb.calls_named("usb_get_string_simple")[0].args, (std::vector<long>{2, 7}));
}

TEST_F(OpenInstrument, NoBus) {
    EXPECT_EQ(link.open_instrument(), OPEN_NOT_FOUND);
    EXPECT_TRUE(log.lines.empty());

    link.set_verbose(true);
    EXPECT_EQ(link.open_instrument(), OPEN_NOT_FOUND);
    EXPECT_TRUE(SameLines({"Begin USB transfer.", "no usb", "Begin USB transfer.", "no usb"},
                          log.lines));
}

TEST_F(OpenInstrument, ForeignDevicesOnlyIncludingOurVendorWithAnotherProduct) {
    const int first = usb.add_bus();
    usb.add_foreign_device(first, 0x0483, 0x5740);
    usb.add_foreign_device(first, 0x1234, 0x5720);
    const int second = usb.add_bus();
    usb.add_foreign_device(second, 0x8087, 0x0024);
    usb.add_bus();  // a bus with no device at all

    EXPECT_EQ(link.open_instrument(), OPEN_NOT_FOUND);
    EXPECT_TRUE(log.lines.empty());

    link.set_verbose(true);
    EXPECT_EQ(link.open_instrument(), OPEN_NOT_FOUND);
    EXPECT_TRUE(SameLines({"Begin USB transfer.", "Begin USB transfer.", "in usb", "in usb dev",
                           ".", "in usb dev", ".", ":", "in usb", "in usb dev", ".", ":",
                           "in usb", ":"},
                          log.lines));
    EXPECT_EQ(count_calls("usb_open"), 0);
    EXPECT_EQ(link.usb_handle(), nullptr);
}

struct ModelCase {
    const char* product;
    int result;
    std::vector<std::string> quiet_lines;
};

class ProductString : public testing::LinkFixture,
                      public ::testing::WithParamInterface<ModelCase> {};

TEST_P(ProductString, DecidesTheModel) {
    const ModelCase& c = GetParam();
    usb.add_instrument(usb.add_bus(), model(c.product));
    EXPECT_EQ(link.open_instrument(), c.result);
    EXPECT_TRUE(SameLines(c.quiet_lines, log.lines));
    // Even a rejected model stays open until the caller closes the link.
    EXPECT_NE(link.usb_handle(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Models, ProductString,
    ::testing::Values(
        ModelCase{"TR-518", OPEN_OK, {"Instrument opened."}},
        ModelCase{"TR-760", OPEN_OK, {"TR-760 opened."}},
        ModelCase{"TR-5180 Rev B", OPEN_OK, {"Instrument opened."}},
        ModelCase{"TR-7601", OPEN_OK, {"TR-760 opened."}},
        ModelCase{"tr-518", OPEN_FAILED, {"Wrong Instrument."}},
        ModelCase{"TR-51", OPEN_FAILED, {"Wrong Instrument."}},
        ModelCase{"TR-900", OPEN_FAILED, {"Wrong Instrument."}}));

TEST_F(OpenInstrument, EmptyProductStringCountsAsUnread) {
    usb.add_instrument(usb.add_bus(), model(""));
    EXPECT_EQ(link.open_instrument(), OPEN_NO_MODEL);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "usb_get_string_simple");
    EXPECT_EQ(log.lines[1], usb.strerror());
}

TEST_F(OpenInstrument, FailedStringReadLogsTheLibraryError) {
    usb.add_instrument(usb.add_bus());
    usb.add_fault(Fault{Step::GetString, FaultKind::Fail});
    EXPECT_EQ(link.open_instrument(), OPEN_NO_MODEL);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "usb_get_string_simple");
    EXPECT_FALSE(log.lines[1].empty());
    EXPECT_EQ(log.lines[1], usb.strerror());
}

TEST_F(OpenInstrument, RefusedConfigurationStillClaimsAndOpens) {
    usb.add_instrument(usb.add_bus());
    usb.add_fault(Fault{Step::SetConfiguration, FaultKind::Fail});
    link.set_verbose(true);

    EXPECT_EQ(link.open_instrument(), OPEN_OK);
    const auto& lines = log.lines;
    const auto failed = std::find(lines.begin(), lines.end(), "Configuration failed.");
    ASSERT_NE(failed, lines.end());
    EXPECT_TRUE(SameLines({"Configuration failed.", "Configuration OK", "TR-518",
                           "Instrument opened.", ":"},
                          {failed, lines.end()}));
}

struct ClaimCase {
    const char* product;
    int result;
    const char* model_line;  // null: the string was not read
};

class RefusedClaim : public testing::LinkFixture,
                     public ::testing::WithParamInterface<ClaimCase> {};

TEST_P(RefusedClaim, LogsTheErrorAndStillIdentifies) {
    const ClaimCase& c = GetParam();
    usb.add_instrument(usb.add_bus(), model(c.product));
    usb.add_fault(Fault{Step::ClaimInterface, FaultKind::Fail});
    link.set_verbose(true);

    EXPECT_EQ(link.open_instrument(), c.result);
    const auto& lines = log.lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Configuration OK"), 0);
    const auto error = std::find(lines.begin(), lines.end(), usb.strerror());
    ASSERT_NE(error, lines.end()) << "no line with the library's error text";
    if (c.model_line) {
        EXPECT_NE(std::find(error, lines.end(), c.model_line), lines.end());
    } else {
        EXPECT_NE(std::find(error, lines.end(), "usb_get_string_simple"), lines.end());
    }
    EXPECT_EQ(clock.waits(), std::vector<int>{150});
}

INSTANTIATE_TEST_SUITE_P(Models, RefusedClaim,
                         ::testing::Values(ClaimCase{"TR-518", OPEN_CLAIM_FAILED,
                                                     "Instrument opened."},
                                           ClaimCase{"TR-760", OPEN_CLAIM_FAILED,
                                                     "TR-760 opened."},
                                           ClaimCase{"XR-100", OPEN_FAILED,
                                                     "Wrong Instrument."},
                                           ClaimCase{"", OPEN_NO_MODEL, nullptr}));

TEST_F(OpenInstrument, FailedOpenSkipsEveryCallOnTheDevice) {
    usb.add_instrument(usb.add_bus());
    usb.add_fault(Fault{Step::Open, FaultKind::Fail});
    link.set_verbose(true);

    EXPECT_EQ(link.open_instrument(), OPEN_FAILED);
    EXPECT_TRUE(SameLines({"Begin USB transfer.", "Begin USB transfer.", "in usb", "in usb dev",
                           "idVendor,idProduct OK", "Instrument not opened.",
                           "wMaxPacketSize: 64;", ":"},
                          log.lines));
    EXPECT_EQ(link.usb_handle(), nullptr);
    for (const char* name : {"usb_get_descriptor", "usb_set_configuration",
                             "usb_claim_interface", "usb_get_string_simple"}) {
        EXPECT_EQ(count_calls(name), 0) << name;
    }
    EXPECT_TRUE(clock.waits().empty());
}

TEST_F(OpenInstrument, TwoInstrumentsLeaveTheSecondOpenAndReleaseTheFirst) {
    const int first = usb.add_bus();
    usb.add_instrument(first, model("TR-760"));
    const int second = usb.add_bus();
    usb.add_instrument(second, model("TR-518"));

    EXPECT_EQ(link.open_instrument(), OPEN_OK);
    EXPECT_TRUE(SameLines({"TR-760 opened.", "Instrument opened."}, log.lines));
    EXPECT_EQ(usb.open_handles(), 1);
    EXPECT_EQ(usb.claimed_interfaces(), 1);
    EXPECT_EQ(clock.waits(), (std::vector<int>{150, 150}));

    const auto releases = usb.calls_named("usb_release_interface");
    ASSERT_EQ(releases.size(), 1u);
    EXPECT_EQ(releases[0].device, 0);
    EXPECT_EQ(usb.calls_named("usb_close")[0].device, 0);
}

TEST_F(OpenInstrument, SecondInstrumentFailingDecidesTheResult) {
    const int bus = usb.add_bus();
    usb.add_instrument(bus, model("TR-518"));
    usb.add_instrument(bus, model("TR-999"));

    EXPECT_EQ(link.open_instrument(), OPEN_FAILED);
    EXPECT_TRUE(SameLines({"Instrument opened.", "Wrong Instrument."}, log.lines));
    EXPECT_EQ(usb.open_handles(), 1);
}

TEST_F(OpenInstrument, DescriptorByteD0EndsTheDumpLine) {
    InstrumentConfig config;
    config.shape.max_power = 0xD0;
    usb.add_instrument(usb.add_bus(), config);
    link.set_verbose(true);
    link.open_instrument();

    const auto descriptor = usb.instrument().configuration_descriptor();
    const std::string expected = dump_of(descriptor).substr(0, 8);
    ASSERT_EQ(descriptor[8], 0xD0);
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), expected), log.lines.end())
        << "no dump line cut before byte 8";
}

TEST_F(OpenInstrument, UnfilledDumpPositionsShowAFixedCharacter) {
    usb.add_instrument(usb.add_bus());
    usb.add_fault(Fault{Step::GetDescriptor, FaultKind::Short, 1, 1, -1, 4});
    usb.add_fault(Fault{Step::GetDescriptor, FaultKind::Fail, 2, 1});
    link.set_verbose(true);

    link.open_instrument();
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "92P0" + std::string(28, '?')),
              log.lines.end());
    link.close_instrument();
    log.clear();
    link.open_instrument();
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), std::string(32, '?')),
              log.lines.end());
}

struct ShapeCase {
    const char* name;
    sim::DescriptorShape shape;
    int max_packet_size;
};

class DescriptorTree : public testing::LinkFixture,
                       public ::testing::WithParamInterface<ShapeCase> {};

TEST_P(DescriptorTree, FirstEndpointGivesThePacketSize) {
    InstrumentConfig config;
    config.shape = GetParam().shape;
    usb.add_instrument(usb.add_bus(), config);
    link.set_verbose(true);

    EXPECT_EQ(link.open_instrument(), OPEN_OK);
    EXPECT_EQ(link.max_packet_size(), GetParam().max_packet_size);
    const std::string line = "wMaxPacketSize: " + std::to_string(GetParam().max_packet_size) + ";";
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), line), log.lines.end());
}

sim::DescriptorShape shape_with(bool config, bool interface, bool alt, bool endpoint,
                                std::uint16_t packet = 64) {
    sim::DescriptorShape shape;
    shape.has_configuration = config;
    shape.has_interface = interface;
    shape.has_altsetting = alt;
    shape.has_endpoint = endpoint;
    shape.first_endpoint_max_packet = packet;
    return shape;
}

// A tree that lacks a level gives 64, so the memory read-back always advances.
INSTANTIATE_TEST_SUITE_P(
    Shapes, DescriptorTree,
    ::testing::Values(ShapeCase{"full speed", shape_with(true, true, true, true), 64},
                      ShapeCase{"high speed", shape_with(true, true, true, true, 512), 512},
                      ShapeCase{"no configuration", shape_with(false, true, true, true, 8), 64},
                      ShapeCase{"no interface", shape_with(true, false, true, true, 8), 64},
                      ShapeCase{"no alternate setting", shape_with(true, true, false, true, 8),
                                64},
                      ShapeCase{"no endpoint", shape_with(true, true, true, false, 8), 64}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(OpenInstrument, CloseReleasesInterfaceOneAndIsHarmlessTwice) {
    usb.add_instrument(usb.add_bus());
    ASSERT_EQ(link.open_instrument(), OPEN_OK);

    link.close_instrument();
    EXPECT_EQ(link.usb_handle(), nullptr);
    EXPECT_EQ(usb.open_handles(), 0);
    EXPECT_EQ(usb.claimed_interfaces(), 0);
    EXPECT_EQ(usb.calls_named("usb_release_interface")[0].args, std::vector<long>{1});

    link.close_instrument();
    EXPECT_EQ(count_calls("usb_release_interface"), 1);
    EXPECT_EQ(count_calls("usb_close"), 1);
    EXPECT_TRUE(SameLines({"Instrument opened."}, log.lines)) << "closing logs nothing";
}

TEST_F(OpenInstrument, LinkLeftOpenIsClosedWhenTheLinkGoes) {
    usb.add_instrument(usb.add_bus());
    {
        InstrumentLink local(usb, clock);
        ASSERT_EQ(local.open_instrument(), OPEN_OK);
        EXPECT_EQ(usb.open_handles(), 1);
    }
    EXPECT_EQ(usb.open_handles(), 0);
    EXPECT_EQ(usb.claimed_interfaces(), 0);
}

class OpenWithRetry : public testing::LinkFixture {};

TEST_F(OpenWithRetry, PresentAtOnceMakesOneAttempt) {
    usb.add_instrument(usb.add_bus());
    EXPECT_EQ(link.open_instrument_with_retry(), OPEN_OK);
    EXPECT_EQ(count_calls("usb_init"), 1);
    EXPECT_TRUE(SameLines({"Instrument opened."}, log.lines));
    EXPECT_EQ(clock.waits(), std::vector<int>{150});
}

TEST_F(OpenWithRetry, PluggedInDuringTheThirdRetry) {
    usb.add_bus();
    // The third retry waits from 20 s to 30 s of virtual time.
    usb.add_instrument(0).plug_in_at(27'000);

    EXPECT_EQ(link.open_instrument_with_retry(), OPEN_OK);
    EXPECT_EQ(count_calls("usb_init"), 4);
    EXPECT_TRUE(SameLines({".", ".", ".", ".", ".", ".", "Instrument opened."}, log.lines));
    EXPECT_EQ(log.repaints, 6);
    EXPECT_EQ(log.repainted_at, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(clock.total_ms(), 6 * 5000 + 150);
}

TEST_F(OpenWithRetry, NeverPresentCostsElevenAttemptsTwentyDotsAndOneHundredSeconds) {
    EXPECT_EQ(link.open_instrument_with_retry(), OPEN_NOT_FOUND);
    EXPECT_EQ(count_calls("usb_init"), 11);
    EXPECT_EQ(log.lines, std::vector<std::string>(20, "."));
    EXPECT_EQ(log.repaints, 20);
    EXPECT_EQ(clock.waits(), std::vector<int>(20, 5000));
    EXPECT_EQ(clock.total_ms(), 100'000);
    EXPECT_EQ(virtual_clock.now_ms(), 100'000);
}

TEST_F(OpenWithRetry, WrongModelIsClosedBeforeEveryRetry) {
    usb.add_instrument(usb.add_bus(), model("TR-999"));
    EXPECT_EQ(link.open_instrument_with_retry(), OPEN_FAILED);
    EXPECT_EQ(count_calls("usb_open"), 11);
    EXPECT_EQ(count_calls("usb_close"), 10);
    // The last attempt's handle stays for the caller to close.
    EXPECT_EQ(usb.open_handles(), 1);
    link.close_instrument();
    EXPECT_EQ(usb.open_handles(), 0);
}

}  // namespace
}  // namespace quillon
