// The bridge's command line: what each option and fault spec makes of the instruments,
// and the specs that the real usbfs path could not honour.
#include "sim/bridge_options.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace quillon::sim {
namespace {

struct FaultCase {
    const char* spec;
    bool valid;
    Fault fault;  // when valid
    friend void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.spec; }
};

class FaultSpec : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultSpec, ReadsStepKindAndSettings) {
    std::string error;
    const auto fault = parse_fault(GetParam().spec, error);
    ASSERT_EQ(fault.has_value(), GetParam().valid) << error;
    if (!fault) {
        EXPECT_NE(error.find(GetParam().spec), std::string::npos) << error;
        return;
    }
    const Fault& want = GetParam().fault;
    EXPECT_EQ(fault->step, want.step);
    EXPECT_EQ(fault->kind, want.kind);
    EXPECT_EQ(fault->first, want.first);
    EXPECT_EQ(fault->times, want.times);
    EXPECT_EQ(fault->command, want.command);
    EXPECT_EQ(fault->value, want.value);
}

INSTANTIATE_TEST_SUITE_P(
    Bridge, FaultSpec,
    ::testing::Values(
        FaultCase{"bulk-read:timeout", true, {Step::BulkRead, FaultKind::Timeout, 1, 1, -1, 0}},
        FaultCase{"bulk-write:fail:first=3:times=forever", true,
                  {Step::BulkWrite, FaultKind::Fail, 3, -1, -1, 0}},
        FaultCase{"command:short:command=9:value=8", true,
                  {Step::Command, FaultKind::Short, 1, 1, 9, 8}},
        FaultCase{"get-string:empty:times=11", true,
                  {Step::GetString, FaultKind::Empty, 1, 11, -1, 0}},
        FaultCase{"set-configuration:timeout", true,
                  {Step::SetConfiguration, FaultKind::Timeout, 1, 1, -1, 0}},
        // Spelling mistakes.
        FaultCase{"bulk-reed:fail", false, {}},
        FaultCase{"command:explode", false, {}},
        FaultCase{"command", false, {}},
        FaultCase{"command:fail:first=0", false, {}},
        FaultCase{"command:fail:times=0", false, {}},
        FaultCase{"command:fail:value=x", false, {}},
        FaultCase{"command:fail:colour=red", false, {}},
        // What libusb-0.1 over usbfs never does.
        FaultCase{"command:throw", false, {}},
        FaultCase{"open:fail", false, {}},
        FaultCase{"bulk-read:empty", false, {}},
        FaultCase{"claim-interface:short:value=1", false, {}},
        FaultCase{"claim-interface:timeout", false, {}},
        FaultCase{"bulk-read:fail:command=2", false, {}}));

std::optional<BridgeOptions> parse(std::vector<std::string> args, std::string& error) {
    return parse_bridge_options(args, error);
}

TEST(BridgeOptions, DefaultIsOneTr518ThatComesBackIntoTheLoader) {
    std::string error;
    const auto options = parse({"--", "prog", "--flag"}, error);
    ASSERT_TRUE(options) << error;
    ASSERT_EQ(options->instruments.size(), 1u);
    const BridgeInstrument& first = options->instruments[0];
    EXPECT_EQ(first.config.product, "TR-518");
    EXPECT_EQ(first.config.shape.first_endpoint_max_packet, 64);
    EXPECT_TRUE(first.config.returns_after_restart);
    EXPECT_FALSE(first.appears_at_ms);
    EXPECT_TRUE(options->power_button_held);
    EXPECT_EQ(options->command, (std::vector<std::string>{"prog", "--flag"}));
}

TEST(BridgeOptions, BusWideSettingsReachBothInstruments) {
    std::string error;
    const auto options =
        parse({"--product", "TR-760", "--second", "TR-518", "--packet", "512", "--no-return",
               "--reenumerate-ms", "50", "--button", "released", "--appear-after", "700",
               "--fault", "command:fail", "--dump-flash", "out.bin", "--", "prog"},
              error);
    ASSERT_TRUE(options) << error;
    ASSERT_EQ(options->instruments.size(), 2u);
    for (const BridgeInstrument& instrument : options->instruments) {
        EXPECT_EQ(instrument.config.shape.first_endpoint_max_packet, 512);
        EXPECT_FALSE(instrument.config.returns_after_restart);
        EXPECT_EQ(instrument.config.reenumerate_ms, 50);
    }
    // Faults and the late plug-in belong to the first instrument alone.
    EXPECT_EQ(options->instruments[0].config.product, "TR-760");
    EXPECT_EQ(options->instruments[0].faults.size(), 1u);
    EXPECT_EQ(options->instruments[0].appears_at_ms, 700);
    EXPECT_EQ(options->instruments[1].config.product, "TR-518");
    EXPECT_TRUE(options->instruments[1].faults.empty());
    EXPECT_FALSE(options->instruments[1].appears_at_ms);
    EXPECT_FALSE(options->power_button_held);
    EXPECT_EQ(options->dump_flash, "out.bin");
}

TEST(BridgeOptions, RefusesCommandLinesThatMakeNoRun) {
    const std::vector<std::vector<std::string>> refused{
        {"--product", "TR-518"},                       // no command
        {"--packet", "128", "--", "prog"},             // no such packet size
        {"--appear-after", "-5", "--", "prog"},        // a time before the start
        {"--button", "pressed", "--", "prog"},
        {"--no-instrument", "--second", "TR-760", "--", "prog"},
        {"--no-instrument", "--dump-flash", "f", "--", "prog"},
        {"--fault", "open:fail", "--", "prog"},
        {"--frobnicate", "--", "prog"},
        {"--product"},                                 // value missing
    };
    for (const auto& args : refused) {
        std::string error;
        EXPECT_FALSE(parse(args, error)) << "accepted: " << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

TEST(BridgeOptions, NoInstrumentLeavesTheRootHubAlone) {
    std::string error;
    const auto options = parse({"--no-instrument", "--", "prog"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_TRUE(options->instruments.empty());
}

}  // namespace
}  // namespace quillon::sim
