#pragma once

#include <QString>

namespace ov {

// The program's title: the main window's caption, the banner's name and the title of
// every message box.
inline QString programTitle()
{
    return QStringLiteral("Ombrevault");
}

} // namespace ov
