#pragma once
// Where the image buffer comes from; a test can put in one that refuses.
#include <cstddef>

namespace quillon {

// Returns a block of `size` bytes that delete[] gives back, or null when none is had.
using ImageAllocator = unsigned char* (*)(std::size_t size);

// Installs `allocator` (null: the heap) and returns the one it replaces.
ImageAllocator set_image_allocator(ImageAllocator allocator);

// A block from the installed allocator.
unsigned char* allocate_image_block(std::size_t size);

}  // namespace quillon
