// Pictures among the resources.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <filesystem>
#include <string>

namespace velt {

// The picture called name (".png" added when it has no extension) in the
// resources folder or its skin/image and icons folders; a null pixmap when
// there is none.
QPixmap resourcePixmap(const std::filesystem::path& resources, const std::string& name);

// A numbered badge drawn in place of a missing badge picture.
QPixmap drawnBadge(int number, int size);

// The tray icon called name; a drawn mouse, in colour or gray, when the
// resources have no such picture.
QIcon trayIcon(const std::filesystem::path& resources, const std::string& name, bool colour);

// The application's icon, as large as the resources have it.
QIcon applicationIcon(const std::filesystem::path& resources);

}  // namespace velt
