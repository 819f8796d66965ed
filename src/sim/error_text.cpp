#include "sim/error_text.h"

#include <cerrno>

namespace quillon::sim {

namespace {

// Fixed texts, as glibc gives them, so they do not depend on the locale.
const char* errno_text(int err) {
    switch (err) {
    case EPIPE: return "Broken pipe";
    case ETIMEDOUT: return "Connection timed out";
    case ENODEV: return "No such device";
    case ENOENT: return "No such file or directory";
    case EBUSY: return "Device or resource busy";
    case EIO: return "Input/output error";
    case EINVAL: return "Invalid argument";
    case EACCES: return "Permission denied";
    case EBADF: return "Bad file descriptor";
    default: return "Unknown error";
    }
}

}  // namespace

std::string error_text(const std::string& what, int negative_errno) {
    return what + ": " + errno_text(-negative_errno);
}

const char* bulk_error(int negative_errno) {
    return negative_errno == -EINVAL || negative_errno == -EBADF ? SUBMIT_ERROR : REAP_ERROR;
}

int fail_errno(Step step) {
    switch (step) {
    case Step::Open: return -EACCES;  // the device node's permissions
    case Step::SetConfiguration:
    case Step::ClaimInterface: return -EBUSY;  // another driver holds it
    case Step::GetDescriptor:
    case Step::GetString:
    case Step::Command: return -EPIPE;  // the control pipe stalled
    case Step::BulkRead:
    case Step::BulkWrite: return -EIO;  // a transaction error on the bus
    }
    return -EIO;
}

}  // namespace quillon::sim
