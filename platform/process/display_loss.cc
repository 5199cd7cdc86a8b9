#include "platform/process/display_loss.h"

#include <QString>
#include <QtGlobal>

namespace velt {
namespace {

struct Watch {
  DisplayLossHandlers handlers;
  QtMessageHandler previous = nullptr;
};
Watch* watch = nullptr;

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (watch->previous) watch->previous(type, context, text);
  const std::string message = text.toStdString();
  const int kind = displayLossKind(message, type == QtFatalMsg);
  if (kind == 0) return;
  const auto& handler = kind == 1 ? watch->handlers.lost : watch->handlers.none;
  if (handler) handler(message);
}

}  // namespace

int displayLossKind(const std::string& message, bool fatal) {
  // X11 (xcb and Xlib's I/O error handler), then Wayland.
  for (const char* lost : {"The X11 connection broke", "The Wayland connection broke",
                           "The Wayland connection experienced a fatal error"}) {
    if (message.find(lost) != std::string::npos) return 1;
  }
  if (fatal && message.find("no Qt platform plugin could be initialized") != std::string::npos) {
    return 2;
  }
  return 0;
}

void watchForDisplayLoss(DisplayLossHandlers handlers) {
  static Watch instance;
  instance.handlers = std::move(handlers);
  watch = &instance;
  instance.previous = qInstallMessageHandler(onMessage);
}

}  // namespace velt
