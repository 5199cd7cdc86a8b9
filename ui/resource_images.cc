#include "ui/resource_images.h"

#include <QPainter>

namespace velt {

QPixmap resourcePixmap(const std::filesystem::path& resources, const std::string& name) {
  std::filesystem::path file = name;
  if (!file.has_extension()) file += ".png";
  for (const char* folder : {"", "skin/image", "icons"}) {
    auto path = resources / folder / file;
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) {
      QPixmap pixmap(QString::fromStdString(path.string()));
      if (!pixmap.isNull()) return pixmap;
    }
  }
  return {};
}

QPixmap drawnBadge(int number, int size) {
  const qreal ratio = 4;
  QPixmap pixmap(QSize(size, size) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::white, 1.5));
  painter.setBrush(QColor(0x1f, 0x6f, 0xeb));
  painter.drawEllipse(QRectF(1, 1, size - 2, size - 2));
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(size * 6 / 10);
  painter.setFont(font);
  painter.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, QString::number(number));
  return pixmap;
}

QIcon trayIcon(const std::filesystem::path& resources, const std::string& name, bool colour) {
  QPixmap pixmap = resourcePixmap(resources, name);
  if (!pixmap.isNull()) return QIcon(pixmap);
  pixmap = QPixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(colour ? QColor(0x1f, 0x6f, 0xeb) : QColor(0x80, 0x80, 0x80), 5));
  painter.setBrush(Qt::NoBrush);
  painter.drawRoundedRect(QRectF(16, 6, 32, 52), 16, 16);
  painter.drawLine(QPointF(32, 8), QPointF(32, 26));
  return QIcon(pixmap);
}

QIcon applicationIcon(const std::filesystem::path& resources) {
  QIcon icon;
  for (const char* name : {"velt-mouse-assistant.svg", "velt-mouse-assistant.png"}) {
    QPixmap pixmap = resourcePixmap(resources, name);
    if (!pixmap.isNull()) icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace velt
