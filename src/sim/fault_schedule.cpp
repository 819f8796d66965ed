#include "sim/fault_schedule.h"

#include <algorithm>

namespace quillon::sim {

const Fault* FaultSchedule::next(Step step, long code) {
    const int occurrence = ++calls_[static_cast<std::size_t>(step)];
    int of_code = 0;
    if (step == Step::Command) {
        auto it = std::find_if(commands_.begin(), commands_.end(),
                               [&](const auto& seen) { return seen.first == code; });
        if (it == commands_.end()) it = commands_.insert(it, {code, 0});
        of_code = ++it->second;
    }
    for (const Fault& fault : faults_) {
        if (fault.step != step || (fault.command >= 0 && fault.command != code)) continue;
        // A command filter counts only the calls carrying that command.
        const int n = fault.command >= 0 ? of_code : occurrence;
        if (n >= fault.first && (fault.times < 0 || n < fault.first + fault.times)) return &fault;
    }
    return nullptr;
}

}  // namespace quillon::sim
