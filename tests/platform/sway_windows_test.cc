#include "platform/wayland/sway_windows.h"

#include <gtest/gtest.h>

namespace velt {
namespace {

// A sway tree as get_tree answers it, cut to what the live lens reads: a
// tiled window beside a tabbed pair (one of them behind its tab), a floating
// window, and on the second output a full-screen window listed before the
// tiled one it covers; the scratchpad's window is hidden.
constexpr const char* kTree = R"({"type": "root", "nodes": [
  {"type": "output", "name": "__i3", "nodes": [{"type": "workspace", "name": "__i3_scratch",
    "floating_nodes": [{"type": "floating_con", "foreign_toplevel_identifier": "scratch",
      "visible": false, "rect": {"x": 0, "y": 0, "width": 50, "height": 50},
      "window_rect": {"x": 0, "y": 0, "width": 50, "height": 50}}]}]},
  {"type": "output", "name": "HEADLESS-1", "nodes": [{"type": "workspace", "nodes": [
      {"type": "con", "foreign_toplevel_identifier": "left", "visible": true,
       "rect": {"x": 0, "y": 0, "width": 640, "height": 720},
       "window_rect": {"x": 2, "y": 24, "width": 636, "height": 694}},
      {"type": "con", "layout": "tabbed", "nodes": [
        {"type": "con", "foreign_toplevel_identifier": "tab shown", "visible": true,
         "rect": {"x": 640, "y": 0, "width": 640, "height": 720},
         "window_rect": {"x": 0, "y": 0, "width": 640, "height": 720}},
        {"type": "con", "foreign_toplevel_identifier": "tab behind", "visible": false,
         "rect": {"x": 640, "y": 0, "width": 640, "height": 720},
         "window_rect": {"x": 0, "y": 0, "width": 640, "height": 720}}]}],
    "floating_nodes": [{"type": "floating_con", "foreign_toplevel_identifier": "floating",
      "visible": true, "rect": {"x": 100, "y": 100, "width": 300, "height": 200},
      "window_rect": {"x": 0, "y": 0, "width": 300, "height": 200}}]}]},
  {"type": "output", "name": "HEADLESS-2", "nodes": [{"type": "workspace", "nodes": [
      {"type": "con", "foreign_toplevel_identifier": "full", "visible": true,
       "fullscreen_mode": 1, "rect": {"x": 1280, "y": 0, "width": 1280, "height": 720},
       "window_rect": {"x": 0, "y": 0, "width": 1280, "height": 720}},
      {"type": "con", "foreign_toplevel_identifier": "under", "visible": true,
       "rect": {"x": 1280, "y": 0, "width": 1280, "height": 720},
       "window_rect": {"x": 0, "y": 0, "width": 1280, "height": 720}}]}]}]})";

TEST(SwayWindowsTest, ShownWindowsLowestFirstAtTheirContent) {
  const std::vector<ShownWindow> shown = shownWindows(kTree);
  std::vector<std::string> names;
  for (const ShownWindow& w : shown) names.push_back(w.identifier);
  EXPECT_EQ(names, (std::vector<std::string>{"left", "tab shown", "floating", "under", "full"}));
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(shown.front().content, QRect(2, 24, 636, 694));  // within its borders and title
}

TEST(SwayWindowsTest, AnythingButATreeShowsNothing) {
  for (const char* answer :
       {"", "not json", "[1, 2]", R"({"nodes": "none"})",
        R"({"nodes": [{"foreign_toplevel_identifier": "w", "visible": true,
            "rect": {"x": "left"}, "window_rect": {}}]})",
        R"({"nodes": [{"foreign_toplevel_identifier": "w", "visible": "yes"}]})"}) {
    EXPECT_TRUE(shownWindows(answer).empty()) << answer;
  }
}

}  // namespace
}  // namespace velt
