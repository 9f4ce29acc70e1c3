#include "app/QtFileOpener.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace drainwatch {

bool QtFileOpener::open(const std::string& path)
{
    const QString file = QString::fromStdString(path);
    // The opener started by Qt reports no failure of its own for a missing file.
    if (!QFileInfo(file).isFile())
        return false;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

} // namespace drainwatch
