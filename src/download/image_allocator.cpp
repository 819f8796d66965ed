#include "download/image_allocator.h"

#include <new>

namespace quillon {
namespace {

unsigned char* heap_block(std::size_t size) { return new (std::nothrow) unsigned char[size]; }

ImageAllocator g_allocator = heap_block;

}  // namespace

ImageAllocator set_image_allocator(ImageAllocator allocator) {
    ImageAllocator previous = g_allocator;
    g_allocator = allocator ? allocator : heap_block;
    return previous;
}

unsigned char* allocate_image_block(std::size_t size) { return g_allocator(size); }

}  // namespace quillon
