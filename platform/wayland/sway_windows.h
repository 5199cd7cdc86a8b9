// Where sway shows its windows, from its IPC (the socket SWAYSOCK names):
// what the live magnifier needs to lay each window's picture at its place,
// since Wayland tells a client nothing of other windows' places.
#pragma once

#include <QRect>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system/unique_fd.h"

namespace velt {

struct ShownWindow {
  std::string identifier;  // its ext-foreign-toplevel-list identifier
  QRect content;           // where its picture goes, in global compositor coordinates
};

// The windows a get_tree answer shows, the lowest first: the tiled ones,
// then the floating ones above them, then a full-screen one above all.
// Hidden windows (on other workspaces, behind a tab) are left out; so is
// all of an answer that is not sway's tree.
std::vector<ShownWindow> shownWindows(std::string_view tree);

class SwayIpc {
 public:
  // The socket SWAYSOCK names; nullopt without one.
  static std::optional<SwayIpc> fromEnvironment();
  // The tree as sway sends it; nullopt, and why in reason, when sway did
  // not answer within a quarter of a second or answered nonsense. Asks
  // again on a new connection after a failure.
  std::optional<std::string> tree(std::string& reason);

 private:
  explicit SwayIpc(std::string path) : path_(std::move(path)) {}
  std::string path_;
  UniqueFd socket_;
};

}  // namespace velt
