#include "platform/wayland/shared_memory.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <limits>

namespace velt {

SharedMemory::SharedMemory(size_t bytes) : size(bytes) {
  fd = memfd_create("velt", MFD_CLOEXEC);
  if (fd < 0) return;
  if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
    data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) data = nullptr;
  }
}

SharedMemory::~SharedMemory() {
  if (data) munmap(data, size);
  if (fd >= 0) close(fd);
}

wl_buffer* SharedMemory::buffer(wl_shm* shm, uint32_t width, uint32_t height, uint32_t stride,
                                uint32_t format) const {
  constexpr uint32_t kMost = std::numeric_limits<int32_t>::max();
  if (!data || size > kMost || width > kMost || height > kMost || stride > kMost ||
      size_t{stride} * height > size) {
    return nullptr;
  }
  // The pool only lends the file to the buffer; the buffer keeps it.
  wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(size));
  wl_buffer* made =
      wl_shm_pool_create_buffer(pool, 0, static_cast<int32_t>(width), static_cast<int32_t>(height),
                                static_cast<int32_t>(stride), format);
  wl_shm_pool_destroy(pool);
  return made;
}

}  // namespace velt
