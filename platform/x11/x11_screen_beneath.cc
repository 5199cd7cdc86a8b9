#include "platform/x11/x11_screen_beneath.h"

#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <QPainter>
#include <cstdlib>
#include <cstring>

#include "core/log.h"

namespace velt {

namespace {

constexpr const char* kFrozen = "the magnifier shows the screen as it was when the lens opened";

template <typename Reply>
struct Owned {
  Reply* reply;
  explicit Owned(Reply* r) : reply(r) {}
  ~Owned() { std::free(reply); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Reply* operator->() const { return reply; }
  explicit operator bool() const { return reply != nullptr; }
};

// Whether the server hands out pixels of depth 24 and 32 as four bytes each,
// least significant first: what QImage reads as they come.
bool readsAsQImage(const xcb_setup_t* setup) {
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
  int fitting = 0;
  for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
    if ((f.data->depth == 24 || f.data->depth == 32) && f.data->bits_per_pixel == 32) ++fitting;
  }
  return fitting == 2;
}

}  // namespace

BeneathLayers layersBeneath(const std::vector<StackedWindow>& bottomFirst, uint32_t overlay,
                            const QRect& area) {
  size_t end = bottomFirst.size();
  for (size_t i = 0; i < bottomFirst.size(); ++i) {
    if (bottomFirst[i].id == overlay) end = i;
  }
  BeneathLayers layers;
  for (size_t i = 0; i < end; ++i) {
    const StackedWindow& w = bottomFirst[i];
    if (!w.viewable || !w.hasPixels) continue;
    const QRect part = w.frame & area;
    if (part.isEmpty()) continue;
    if (w.opaque && part == area) {
      layers.background = false;
      layers.windows.clear();
    }
    layers.windows.emplace_back(i, part);
  }
  return layers;
}

std::unique_ptr<X11ScreenBeneath> X11ScreenBeneath::open(const std::string& display) {
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
  auto lacks = [c](const char* what) -> std::unique_ptr<X11ScreenBeneath> {
    logFormat("overlay: the X display %s; %s", what, kFrozen);
    xcb_disconnect(c);
    return nullptr;
  };
  if (xcb_connection_has_error(c)) return lacks("cannot be reached for the windows' pixels");
  const xcb_query_extension_reply_t* composite = xcb_get_extension_data(c, &xcb_composite_id);
  if (!composite || !composite->present) return lacks("has no Composite extension");
  // Reading a window's storage (NameWindowPixmap) came with version 0.2.
  Owned version(
      xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
  if (!version || (version->major_version == 0 && version->minor_version < 2)) {
    return lacks("has a Composite extension older than 0.2, which cannot name a window's pixmap");
  }
  const xcb_setup_t* setup = xcb_get_setup(c);
  if (!readsAsQImage(setup)) return lacks("gives pixels in a layout other than 32-bit BGRA");
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) return lacks("has no screen");
  auto beneath = std::unique_ptr<X11ScreenBeneath>(new X11ScreenBeneath(c, screens.data->root));
  static constexpr char kRootPixmap[] = "_XROOTPMAP_ID";
  Owned atom(xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, sizeof kRootPixmap - 1, kRootPixmap),
                                   nullptr));
  if (atom) beneath->rootPixmapAtom_ = atom->atom;
  return beneath;
}

X11ScreenBeneath::X11ScreenBeneath(xcb_connection_t* connection, uint32_t root)
    : connection_(connection), root_(root) {}

X11ScreenBeneath::~X11ScreenBeneath() {
  keep(false);
  xcb_disconnect(connection_);
}

void X11ScreenBeneath::keep(bool on) {
  if (on == redirected_) return;
  if (!on) {
    xcb_composite_unredirect_subwindows(connection_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    xcb_flush(connection_);
    redirected_ = false;
    return;
  }
  // Automatic: the server goes on painting the screen from the windows'
  // storage; with a compositing manager's redirection already there, this
  // adds nothing.
  xcb_generic_error_t* error =
      xcb_request_check(connection_, xcb_composite_redirect_subwindows_checked(
                                         connection_, root_, XCB_COMPOSITE_REDIRECT_AUTOMATIC));
  if (error) {
    if (!std::exchange(redirectFailureLogged_, true)) {
      logFormat("overlay: the X display refuses to keep the windows' pixels (error %d); %s",
                error->error_code, kFrozen);
    }
    std::free(error);
    return;
  }
  redirected_ = true;
}

QImage X11ScreenBeneath::read(uint32_t drawable, const QRect& part, bool alpha) {
  Owned image(xcb_get_image_reply(
      connection_,
      xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable,
                    static_cast<int16_t>(part.x()), static_cast<int16_t>(part.y()),
                    static_cast<uint16_t>(part.width()), static_cast<uint16_t>(part.height()), ~0u),
      nullptr));
  const int bytes = part.width() * part.height() * 4;
  if (!image || (image->depth != 24 && image->depth != 32) ||
      xcb_get_image_data_length(image.reply) < bytes) {
    return {};
  }
  QImage picture(part.size(), alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
  std::memcpy(picture.bits(), xcb_get_image_data(image.reply), static_cast<size_t>(bytes));
  return picture;
}

void X11ScreenBeneath::background(QImage& canvas, const QRect& area) {
  // Desktops that draw a wallpaper name its pixmap on the root; without one
  // the background stays black.
  canvas.fill(Qt::black);
  if (!rootPixmapAtom_) return;
  Owned property(xcb_get_property_reply(
      connection_, xcb_get_property(connection_, 0, root_, rootPixmapAtom_, XCB_ATOM_PIXMAP, 0, 1),
      nullptr));
  if (!property || xcb_get_property_value_length(property.reply) != 4) return;
  uint32_t pixmap = 0;
  std::memcpy(&pixmap, xcb_get_property_value(property.reply), 4);
  const QImage wallpaper = read(pixmap, area, false);
  if (!wallpaper.isNull()) canvas = wallpaper;
}

QImage X11ScreenBeneath::picture(const QRect& area, uint32_t overlay) {
  if (area.isEmpty() || !redirected_) return {};
  Owned tree(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr));
  if (!tree) return {};
  const xcb_window_t* children = xcb_query_tree_children(tree.reply);
  const int count = xcb_query_tree_children_length(tree.reply);
  std::vector<xcb_get_window_attributes_cookie_t> attributes;
  std::vector<xcb_get_geometry_cookie_t> geometries;
  for (int i = 0; i < count; ++i) {
    attributes.push_back(xcb_get_window_attributes(connection_, children[i]));
    geometries.push_back(xcb_get_geometry(connection_, children[i]));
  }
  std::vector<StackedWindow> stacked(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    StackedWindow& w = stacked[static_cast<size_t>(i)];
    w.id = children[i];
    Owned a(xcb_get_window_attributes_reply(connection_, attributes[i], nullptr));
    Owned g(xcb_get_geometry_reply(connection_, geometries[i], nullptr));
    if (!a || !g) continue;  // gone meanwhile
    w.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
    w.hasPixels = a->_class != XCB_WINDOW_CLASS_INPUT_ONLY;
    w.opaque = g->depth != 32;
    const int border = g->border_width;
    w.frame = QRect(g->x, g->y, g->width + 2 * border, g->height + 2 * border);
  }
  const BeneathLayers layers = layersBeneath(stacked, overlay, area);

  QImage canvas(area.size(), QImage::Format_RGB32);
  if (layers.background) {
    background(canvas, area);
  } else {
    canvas.fill(Qt::black);
  }
  QPainter painter(&canvas);
  for (const auto& [index, part] : layers.windows) {
    const StackedWindow& w = stacked[index];
    // The window's storage as it is now; a new one comes with each resize.
    const uint32_t pixmap = xcb_generate_id(connection_);
    xcb_composite_name_window_pixmap(connection_, w.id, pixmap);
    const QImage pixels = read(pixmap, part.translated(-w.frame.topLeft()), !w.opaque);
    xcb_free_pixmap(connection_, pixmap);
    // A window that went, or was never redirected: no picture this time
    // rather than one with a hole.
    if (pixels.isNull()) return {};
    painter.drawImage(part.topLeft() - area.topLeft(), pixels);
  }
  painter.end();
  // Errors of requests whose replies were not asked for (a window that went
  // before its pixmap was named) wait as events: let them go.
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) std::free(event);
  return canvas;
}

}  // namespace velt
