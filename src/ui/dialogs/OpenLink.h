#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;

namespace ov {

struct AppContext;
class LinkOpener;

// Hands a file path, a web address or a "mailto:" link to the context's opener and
// explains a failure in a message
// box once the opener has answered. Returns at once; success shows nothing.
// `fallback`, when given, is tried when the opener could not show an existing target;
// the box comes only when it returns false too. It gets the asking window, or null once
// that is closed.
void OpenLink(const QString& target, AppContext& context, QWidget* parent,
              std::function<bool(QWidget*)> fallback = {});

// The help page: the program's data folder followed by "/help/help.html".
QByteArray helpPagePath();

} // namespace ov
