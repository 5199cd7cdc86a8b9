#include "platform/wayland/window_pictures.h"

#include <wayland-client.h>

#include "ext-window-capture-client-protocol.h"
#include "platform/wayland/shared_memory.h"
#include "platform/wayland/wayland_screencopy.h"

namespace velt {
namespace {

// A window's picture is at most this wide and high: larger buffers are
// nonsense, and would take gigabytes.
constexpr uint32_t kLargest = 16384;

}  // namespace

struct WindowPictures::Handle {
  std::string identifier;
};

struct WindowPictures::Session {
  WindowPictures& owner;
  ext_image_capture_source_v1* source = nullptr;
  ext_image_copy_capture_session_v1* session = nullptr;
  ext_image_copy_capture_frame_v1* frame = nullptr;
  // The buffer the last done asked for, and what the events since said.
  uint32_t width = 0, height = 0, format = 0;
  uint32_t nextWidth = 0, nextHeight = 0, nextFormat = 0;
  bool constrained = false;  // a done came
  bool wanted = false;       // asked for before it did
  bool stopped = false;
  std::unique_ptr<SharedMemory> memory;
  wl_buffer* buffer = nullptr;
  QImage latest;

  explicit Session(WindowPictures& o) : owner(o) {}
  ~Session() {
    endFrame();
    dropBuffer();
    if (session) ext_image_copy_capture_session_v1_destroy(session);
    if (source) ext_image_capture_source_v1_destroy(source);
  }
  void endFrame() {
    if (frame) ext_image_copy_capture_frame_v1_destroy(frame);
    frame = nullptr;
  }
  void dropBuffer() {
    if (buffer) wl_buffer_destroy(buffer);
    buffer = nullptr;
    memory.reset();
  }
  void capture();
  void answered() {
    endFrame();
    owner.arrived_();
  }
};

struct WindowPictureListeners {
  using P = WindowPictures;
  using S = WindowPictures::Session;

  // The list and its handles.
  static void toplevel(void* data, ext_foreign_toplevel_list_v1*,
                       ext_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<P*>(data);
    auto& entry = self->handles_[handle];
    entry = std::make_unique<P::Handle>();
    ext_foreign_toplevel_handle_v1_add_listener(handle, &handleListener, self);
  }
  static void finished(void* data, ext_foreign_toplevel_list_v1* list) {
    auto* self = static_cast<P*>(data);
    ext_foreign_toplevel_list_v1_destroy(list);
    self->list_ = nullptr;
  }
  static constexpr ext_foreign_toplevel_list_v1_listener listListener{toplevel, finished};

  static void closed(void* data, ext_foreign_toplevel_handle_v1* handle) {
    static_cast<P*>(data)->closed(handle);
  }
  static void done(void*, ext_foreign_toplevel_handle_v1*) {}
  static void title(void*, ext_foreign_toplevel_handle_v1*, const char*) {}
  static void appId(void*, ext_foreign_toplevel_handle_v1*, const char*) {}
  static void identifier(void* data, ext_foreign_toplevel_handle_v1* handle, const char* id) {
    auto* self = static_cast<P*>(data);
    if (auto it = self->handles_.find(handle); it != self->handles_.end()) {
      it->second->identifier = id;
    }
  }
  static constexpr ext_foreign_toplevel_handle_v1_listener handleListener{closed, done, title,
                                                                          appId, identifier};

  // A session's constraints.
  static void bufferSize(void* data, ext_image_copy_capture_session_v1*, uint32_t w, uint32_t h) {
    auto* s = static_cast<S*>(data);
    s->nextWidth = w;
    s->nextHeight = h;
  }
  static void shmFormat(void* data, ext_image_copy_capture_session_v1*, uint32_t format) {
    // The first 32-bit RGB format offered; XRGB8888, which needs no
    // conversion, before any other.
    auto* s = static_cast<S*>(data);
    if (shmImageFormat(format) == QImage::Format_Invalid) return;
    if (!s->nextFormat || format == WL_SHM_FORMAT_XRGB8888) s->nextFormat = format;
  }
  static void dmabufDevice(void*, ext_image_copy_capture_session_v1*, wl_array*) {}
  static void dmabufFormat(void*, ext_image_copy_capture_session_v1*, uint32_t, wl_array*) {}
  static void sessionDone(void* data, ext_image_copy_capture_session_v1*) {
    auto* s = static_cast<S*>(data);
    if (s->nextWidth != s->width || s->nextHeight != s->height || s->nextFormat != s->format) {
      // A picture under way into the old buffer is asked for again, into
      // one of the new size.
      if (s->frame) s->wanted = true;
      s->endFrame();
      s->dropBuffer();
    }
    s->width = std::exchange(s->nextWidth, 0);
    s->height = std::exchange(s->nextHeight, 0);
    s->format = std::exchange(s->nextFormat, 0);
    s->constrained = true;
    if (std::exchange(s->wanted, false)) s->capture();
  }
  static void stopped(void* data, ext_image_copy_capture_session_v1*) {
    auto* s = static_cast<S*>(data);
    s->stopped = true;
    if (s->frame || std::exchange(s->wanted, false)) s->answered();
  }
  static constexpr ext_image_copy_capture_session_v1_listener sessionListener{
      bufferSize, shmFormat, dmabufDevice, dmabufFormat, sessionDone, stopped};

  // A frame.
  static void transform(void*, ext_image_copy_capture_frame_v1*, uint32_t) {}
  static void damage(void*, ext_image_copy_capture_frame_v1*, int32_t, int32_t, int32_t, int32_t) {}
  static void presented(void*, ext_image_copy_capture_frame_v1*, uint32_t, uint32_t, uint32_t) {}
  static void ready(void* data, ext_image_copy_capture_frame_v1*) {
    auto* s = static_cast<S*>(data);
    if (!s->memory) return s->answered();
    const QImage shared(static_cast<const uchar*>(s->memory->data), static_cast<int>(s->width),
                        static_cast<int>(s->height), static_cast<qsizetype>(s->width) * 4,
                        shmImageFormat(s->format));
    // Its own copy: the compositor writes the next picture into the buffer.
    s->latest = shared.format() == QImage::Format_RGB32
                    ? shared.copy()
                    : shared.convertToFormat(QImage::Format_RGB32);
    s->answered();
  }
  static void failed(void* data, ext_image_copy_capture_frame_v1*, uint32_t reason) {
    auto* s = static_cast<S*>(data);
    // A buffer that no longer fits is made again after the constraints
    // that the compositor sends next.
    if (reason == EXT_IMAGE_COPY_CAPTURE_FRAME_V1_FAILURE_REASON_BUFFER_CONSTRAINTS) {
      s->dropBuffer();
    }
    s->answered();
  }
  static constexpr ext_image_copy_capture_frame_v1_listener frameListener{transform, damage,
                                                                          presented, ready, failed};
};

void WindowPictures::Session::capture() {
  if (frame || stopped) return;
  if (!constrained) {
    wanted = true;
    return;
  }
  if (!format || !width || !height || width > kLargest || height > kLargest) {
    owner.arrived_();  // nothing this client can read
    return;
  }
  if (!buffer) {
    const uint32_t stride = width * 4;  // width is at most kLargest
    memory = std::make_unique<SharedMemory>(size_t{stride} * height);
    buffer = memory->buffer(owner.shm_, width, height, stride, format);
    if (!buffer) {
      memory.reset();
      owner.arrived_();
      return;
    }
  }
  frame = ext_image_copy_capture_session_v1_create_frame(session);
  ext_image_copy_capture_frame_v1_add_listener(frame, &WindowPictureListeners::frameListener, this);
  ext_image_copy_capture_frame_v1_attach_buffer(frame, buffer);
  ext_image_copy_capture_frame_v1_damage_buffer(frame, 0, 0, static_cast<int32_t>(width),
                                                static_cast<int32_t>(height));
  ext_image_copy_capture_frame_v1_capture(frame);
}

WindowPictures::WindowPictures(std::function<void()> arrived) : arrived_(std::move(arrived)) {}

WindowPictures::~WindowPictures() {
  sessions_.clear();
  for (auto& [handle, h] : handles_) ext_foreign_toplevel_handle_v1_destroy(handle);
  if (list_) ext_foreign_toplevel_list_v1_destroy(list_);
}

void WindowPictures::track(ext_foreign_toplevel_list_v1* list) {
  list_ = list;
  ext_foreign_toplevel_list_v1_add_listener(list, &WindowPictureListeners::listListener, this);
}

void WindowPictures::use(ext_foreign_toplevel_image_capture_source_manager_v1* sources,
                         ext_image_copy_capture_manager_v1* copies, wl_shm* shm) {
  sources_ = sources;
  copies_ = copies;
  shm_ = shm;
}

void WindowPictures::closed(ext_foreign_toplevel_handle_v1* handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return;
  sessions_.erase(it->second->identifier);
  handles_.erase(it);
  ext_foreign_toplevel_handle_v1_destroy(handle);
}

bool WindowPictures::ask(const std::string& identifier) {
  if (!usable() || identifier.empty()) return false;
  auto& session = sessions_[identifier];
  if (session && session->stopped) session.reset();
  if (!session) {
    ext_foreign_toplevel_handle_v1* handle = nullptr;
    for (auto& [h, entry] : handles_) {
      if (entry->identifier == identifier) handle = h;
    }
    if (!handle) {
      sessions_.erase(identifier);
      return false;
    }
    session = std::make_unique<Session>(*this);
    session->source =
        ext_foreign_toplevel_image_capture_source_manager_v1_create_source(sources_, handle);
    session->session =
        ext_image_copy_capture_manager_v1_create_session(copies_, session->source, 0);
    ext_image_copy_capture_session_v1_add_listener(
        session->session, &WindowPictureListeners::sessionListener, session.get());
  }
  session->capture();
  return true;
}

void WindowPictures::clear() {
  sessions_.clear();
}

const QImage* WindowPictures::latest(const std::string& identifier) const {
  auto it = sessions_.find(identifier);
  if (it == sessions_.end() || it->second->latest.isNull()) return nullptr;
  return &it->second->latest;
}

}  // namespace velt
