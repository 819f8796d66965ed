#pragma once
// The library's error texts: the call's own words and the system's text for the errno.
#include "faults.h"

#include <string>

namespace quillon::sim {

inline constexpr const char* CONTROL_ERROR = "error sending control message";
inline constexpr const char* SUBMIT_ERROR = "error submitting URB";
inline constexpr const char* REAP_ERROR = "error reaping URB";

// "<what>: <errno text>" for a negative errno, as libusb-0.1 on Linux words it.
std::string error_text(const std::string& what, int negative_errno);
// A refused submission fails at once; anything else shows when the URB is reaped.
const char* bulk_error(int negative_errno);
// The errno a plain failure of each call reports.
int fail_errno(Step step);

}  // namespace quillon::sim
