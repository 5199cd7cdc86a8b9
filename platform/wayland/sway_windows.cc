#include "platform/wayland/sway_windows.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

namespace velt {
namespace {

using Json = nlohmann::json;

QRect rectOf(const Json& r) {
  return QRect(r.at("x").get<int>(), r.at("y").get<int>(), r.at("width").get<int>(),
               r.at("height").get<int>());
}

// Tiled children first, floating ones after: the order sway draws them in.
void collect(const Json& node, std::vector<ShownWindow>& shown,
             std::vector<ShownWindow>& fullScreen) {
  const auto id = node.find("foreign_toplevel_identifier");
  if (id != node.end() && id->is_string() && node.value("visible", false)) {
    QRect content = rectOf(node.at("window_rect"));
    content.translate(rectOf(node.at("rect")).topLeft());
    ShownWindow window{id->get<std::string>(), content};
    (node.value("fullscreen_mode", 0) != 0 ? fullScreen : shown).push_back(std::move(window));
  }
  for (const char* children : {"nodes", "floating_nodes"}) {
    const auto list = node.find(children);
    if (list == node.end() || !list->is_array()) continue;
    for (const Json& child : *list) {
      if (child.is_object()) collect(child, shown, fullScreen);
    }
  }
}

// sway's IPC: "i3-ipc", then the payload's length and the message's type,
// each 32 bits in the machine's order, then the payload.
constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr uint32_t kGetTree = 4;
constexpr size_t kHeader = sizeof(kMagic) + 8;
constexpr uint32_t kLargestAnswer = 64u << 20;
constexpr auto kPatience = std::chrono::milliseconds(250);

// All of size bytes, within the time left; false on an error or at the end.
template <typename Io>
bool whole(int fd, short events, char* data, size_t size, std::chrono::steady_clock::time_point end,
           Io io) {
  while (size > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd p{fd, events, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    const ssize_t n = io(fd, data, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (n == 0) errno = ECONNRESET;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::vector<ShownWindow> shownWindows(std::string_view tree) {
  const Json root = Json::parse(tree, nullptr, /*allow_exceptions=*/false);
  if (!root.is_object()) return {};
  std::vector<ShownWindow> shown, fullScreen;
  try {
    collect(root, shown, fullScreen);
  } catch (const Json::exception&) {
    return {};
  }
  for (ShownWindow& window : fullScreen) shown.push_back(std::move(window));
  return shown;
}

std::optional<SwayIpc> SwayIpc::fromEnvironment() {
  const char* path = std::getenv("SWAYSOCK");
  if (!path || !*path) return std::nullopt;
  return SwayIpc(path);
}

std::optional<std::string> SwayIpc::tree(std::string& reason) {
  const auto end = std::chrono::steady_clock::now() + kPatience;
  if (!socket_.valid()) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof(address.sun_path)) {
      reason = "its socket's name is too long";
      return std::nullopt;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid() ||
        connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      reason = std::string("cannot connect to ") + path_ + ": " + std::strerror(errno);
      return std::nullopt;
    }
    socket_ = std::move(fd);
  }
  char header[kHeader];
  std::memcpy(header, kMagic, sizeof(kMagic));
  const uint32_t ask[2] = {0, kGetTree};
  std::memcpy(header + sizeof(kMagic), ask, sizeof(ask));
  auto send = [](int fd, char* data, size_t size) { return ::send(fd, data, size, MSG_NOSIGNAL); };
  auto receive = [](int fd, char* data, size_t size) { return ::recv(fd, data, size, 0); };
  if (!whole(socket_.get(), POLLOUT, header, kHeader, end, send) ||
      !whole(socket_.get(), POLLIN, header, kHeader, end, receive)) {
    reason = std::strerror(errno);
    socket_.reset();
    return std::nullopt;
  }
  uint32_t answer[2];
  std::memcpy(answer, header + sizeof(kMagic), sizeof(answer));
  if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0 || answer[1] != kGetTree ||
      answer[0] > kLargestAnswer) {
    reason = "its answer is not an answer to get_tree";
    socket_.reset();
    return std::nullopt;
  }
  std::string tree(answer[0], '\0');
  if (!whole(socket_.get(), POLLIN, tree.data(), tree.size(), end, receive)) {
    reason = std::strerror(errno);
    socket_.reset();
    return std::nullopt;
  }
  return tree;
}

}  // namespace velt
