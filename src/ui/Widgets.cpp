#include "ui/Widgets.h"

namespace ov {

namespace {
constexpr char kBusyCount[] = "ov_busyCount";
} // namespace

void setBusyPointer(QWidget* window, bool busy)
{
    const int before = window->property(kBusyCount).toInt();
    const int now = busy ? before + 1 : std::max(0, before - 1);
    window->setProperty(kBusyCount, now);
    if (now > 0)
        window->setCursor(Qt::WaitCursor);
    else
        window->unsetCursor();
}

} // namespace ov
