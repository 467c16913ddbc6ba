#pragma once

#include <QByteArray>
#include <QString>

class QWidget;

namespace ov {

struct AppContext;
class LinkOpener;

// Hands a file path, a web address or a "mailto:" link to the context's opener and
// explains a failure in a message
// box once the opener has answered. Returns at once; success shows nothing.
void OpenLink(const QString& target, AppContext& context, QWidget* parent);

// The help page: the program's folder followed by "/help/help.html".
QByteArray helpPagePath();

} // namespace ov
