#pragma once

#include <QByteArray>
#include <QDialog>

class QTextBrowser;
class QPushButton;

namespace ov {

struct AppContext;

// The help page in a window of the program's own, for a desktop where no program opens
// it (no browser, or none that xdg-open knows). Links inside the page scroll to their
// place; Enter and Escape close the window.
class HelpViewer : public QDialog
{
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* parent);

    // Reads the page off the interface thread and shows it, bringing an open viewer of
    // the same parent forward instead of opening a second. False, with nothing shown,
    // when the page cannot be read: the caller says so.
    static bool showPage(const QByteArray& page, AppContext& context, QWidget* parent);

    QTextBrowser* browser() const { return m_browser; }

private:
    QTextBrowser* m_browser = nullptr;
    QPushButton* m_close = nullptr;
};

} // namespace ov
