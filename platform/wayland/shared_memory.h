// Shared memory for the pictures the overlay hands the compositor, or has
// the compositor copy into.
#pragma once

#include <cstddef>
#include <cstdint>

struct wl_buffer;
struct wl_shm;

namespace velt {

// A shared-memory file of size bytes, mapped; data is nullptr on failure.
struct SharedMemory {
  int fd = -1;
  void* data = nullptr;
  size_t size = 0;
  explicit SharedMemory(size_t bytes);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // A buffer over the start of the file, of width by height pixels, stride
  // bytes a row, in a wl_shm format; nullptr when nothing is mapped or the
  // rows do not fit. The caller destroys it before the memory goes.
  wl_buffer* buffer(wl_shm* shm, uint32_t width, uint32_t height, uint32_t stride,
                    uint32_t format) const;
};

}  // namespace velt
