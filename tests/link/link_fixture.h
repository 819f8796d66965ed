#pragma once
// The simulated bus, virtual time and a recording log, built in one line.
#include "support/line_diff.h"
#include "support/sim_rig.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon::testing {

class LinkFixture : public ::testing::Test, protected SimRig {
protected:
    int count_calls(const std::string& name) const {
        return static_cast<int>(usb.calls_named(name).size());
    }
};

}  // namespace quillon::testing
