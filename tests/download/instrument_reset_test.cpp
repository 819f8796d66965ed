#include "download/instrument_reset.h"

#include "download_fixture.h"
#include "link/command_channel.h"

#include <gtest/gtest.h>

namespace quillon::testing {
namespace {

sim::Fault reset_fault(sim::FaultKind kind, int value = 0) {
    return {.step = sim::Step::Command, .kind = kind, .times = -1,
            .command = static_cast<int>(CMD_RESET), .value = value};
}

struct ResetCase {
    const char* name;
    std::optional<sim::InstrumentConfig> instrument;
    std::function<void(Bench&)> arrange;
    std::vector<std::string> lines;
    std::vector<int> waits;
    int resets_sent;

    friend void PrintTo(const ResetCase& c, std::ostream* os) { *os << c.name; }
};

const std::vector<int> kRetryFound = join({kEmptyRetryWaits, kOpenWaits});

const ResetCase kResetCases[] = {
    {"tr518", tr518(), nullptr,
     {"Instrument opened.", "Reset sent.", "Instrument closed."},
     {150, 100}, 1},
    {"tr760", model("TR-760"), nullptr,
     {"TR-760 opened.", "Reset sent.", "Instrument closed."},
     {150, 100}, 1},
    {"no instrument", std::nullopt, nullptr,
     join({dots(20), {"Instrument not found."}}),
     join({repeat(10, kEmptyRetryWaits), {100}}), 0},
    // Each of the 11 attempts finds the device and rejects it.
    {"wrong model", model("TR-999"), nullptr,
     join({{"Wrong Instrument."}, [] {
               std::vector<std::string> retries;
               for (int i = 0; i < 10; ++i) {
                   retries.insert(retries.end(), {".", ".", "Wrong Instrument."});
               }
               return retries;
           }(),
           {"Instrument not found."}}),
     join({kOpenWaits, repeat(10, kRetryFound), {100}}), 0},
    {"plugged in during the second retry", tr518(),
     [](Bench& b) { b.instrument().plug_in_at(12000); },
     join({dots(4), {"Instrument opened.", "Reset sent.", "Instrument closed."}}),
     join({repeat(2, kEmptyRetryWaits), kOpenWaits, {100}}), 1},
    {"transfer fails", tr518(),
     [](Bench& b) { b.usb.add_fault(reset_fault(sim::FaultKind::Fail)); },
     {"Instrument opened.", "Reset sent."}, {150, 100}, 1},
    {"transfer times out", tr518(),
     [](Bench& b) { b.usb.add_fault(reset_fault(sim::FaultKind::Timeout)); },
     {"Instrument opened.", "Reset sent."}, {150, 100}, 1},
    {"transfer moves 2 bytes", tr518(),
     [](Bench& b) { b.usb.add_fault(reset_fault(sim::FaultKind::Short, 2)); },
     {"Instrument opened.", "Reset sent."}, {150, 100}, 1},
};

class ResetTest : public ::testing::TestWithParam<ResetCase> {};

TEST_P(ResetTest, LinesWaitsAndClosedLink) {
    const ResetCase& c = GetParam();
    Bench bench(c.instrument);
    if (c.arrange) c.arrange(bench);

    reset_instrument(bench.link);

    EXPECT_TRUE(same(bench.log.lines, c.lines));
    EXPECT_TRUE(same(bench.clock.waits(), c.waits));
    const std::vector<sim::Call> sent = bench.usb.calls_named("usb_control_msg");
    ASSERT_EQ(static_cast<int>(sent.size()), c.resets_sent);
    for (const sim::Call& call : sent) {
        EXPECT_TRUE(same(call.data, {0x07, 0x00, 0x00, 0x00}));
    }
    EXPECT_EQ(bench.link.usb_handle(), nullptr);
    EXPECT_EQ(bench.usb.open_handles(), 0);
    EXPECT_EQ(bench.usb.claimed_interfaces(), 0);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, ResetTest, ::testing::ValuesIn(kResetCases),
                         [](const auto& info) { return test_name(info.param.name); });

}  // namespace
}  // namespace quillon::testing
