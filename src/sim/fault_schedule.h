#pragma once
// The faults of one device and the count of its calls that decides when each strikes.
#include "faults.h"

#include <array>
#include <utility>
#include <vector>

namespace quillon::sim {

class FaultSchedule {
public:
    void add(const Fault& fault) { faults_.push_back(fault); }
    // Counts one call of `step` (of command `code` for Step::Command, -1 when the call
    // carries none) and returns the fault covering it, or null.
    const Fault* next(Step step, long code = -1);

private:
    std::vector<Fault> faults_;
    std::array<int, 8> calls_{};                 // per Step
    std::vector<std::pair<long, int>> commands_;  // per command code
};

}  // namespace quillon::sim
