// Pictures of single windows, where the compositor offers them
// (ext-image-copy-capture with toplevels as sources, sway 1.12): what the
// live magnifier lays over the picture taken as the lens opened, since a
// window's picture never holds the overlay. Windows are named by the
// identifiers of ext-foreign-toplevel-list, which sway's tree gives too.
//
// Each window asked for keeps a capture session, and at most one picture
// under way, until clear(). The compositor answers the first picture of a
// session at once and later ones only once the window has changed, so a
// window that stands still costs nothing. Single-threaded: the
// connection's dispatch drives it.
#pragma once

#include <QImage>
#include <functional>
#include <map>
#include <memory>
#include <string>

struct wl_shm;
struct ext_foreign_toplevel_list_v1;
struct ext_foreign_toplevel_handle_v1;
struct ext_foreign_toplevel_image_capture_source_manager_v1;
struct ext_image_copy_capture_manager_v1;

namespace velt {

class WindowPictures {
 public:
  // arrived runs, from inside the dispatch, whenever a picture asked for
  // came or failed.
  explicit WindowPictures(std::function<void()> arrived);
  ~WindowPictures();
  WindowPictures(const WindowPictures&) = delete;
  WindowPictures& operator=(const WindowPictures&) = delete;

  // Follows the list's toplevels, and owns it.
  void track(ext_foreign_toplevel_list_v1* list);
  // What the pictures are made with; the connection keeps them.
  void use(ext_foreign_toplevel_image_capture_source_manager_v1* sources,
           ext_image_copy_capture_manager_v1* copies, wl_shm* shm);
  bool usable() const { return list_ && sources_ && copies_ && shm_; }

  // A new picture of the window, unless one is under way already; false
  // when no toplevel has that identifier (any longer).
  bool ask(const std::string& identifier);
  // The window's latest picture, RGB32 and its own copy; null before the
  // first one came.
  const QImage* latest(const std::string& identifier) const;
  // Ends every session; their pictures go too.
  void clear();

  struct Handle;
  struct Session;

 private:
  void closed(ext_foreign_toplevel_handle_v1* handle);

  std::function<void()> arrived_;
  ext_foreign_toplevel_list_v1* list_ = nullptr;
  ext_foreign_toplevel_image_capture_source_manager_v1* sources_ = nullptr;
  ext_image_copy_capture_manager_v1* copies_ = nullptr;
  wl_shm* shm_ = nullptr;
  std::map<ext_foreign_toplevel_handle_v1*, std::unique_ptr<Handle>> handles_;
  std::map<std::string, std::unique_ptr<Session>> sessions_;

  friend struct WindowPictureListeners;
};

}  // namespace velt
