#pragma once
// A usbfs request as umockdev hands it over from the client process. Resolving a pointer
// copies the client's memory here; the copy goes back when the request completes.
#include <umockdev.h>

#include <cstddef>
#include <memory>

namespace quillon::sim {

struct IoctlDataUnref {
    void operator()(UMockdevIoctlData* data) const { g_object_unref(data); }
};
using IoctlData = std::unique_ptr<UMockdevIoctlData, IoctlDataUnref>;

// The `size` bytes the pointer at `offset` of `parent` points to; null for a null
// pointer, a size of 0 or memory the client cannot give.
inline IoctlData resolve(UMockdevIoctlData* parent, std::size_t offset, std::size_t size) {
    if (size == 0) return nullptr;
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(parent, offset, size, &error);
    if (error != nullptr) g_error_free(error);
    return IoctlData(data);
}

template <typename T>
T& as(const IoctlData& data) {
    return *reinterpret_cast<T*>(data->data);
}

// The ioctl's answer: a negative errno fails it with that errno.
inline void finish(UMockdevIoctlClient* client, long result) {
    if (result < 0) {
        umockdev_ioctl_client_complete(client, -1, static_cast<int>(-result));
    } else {
        umockdev_ioctl_client_complete(client, result, 0);
    }
}

}  // namespace quillon::sim
