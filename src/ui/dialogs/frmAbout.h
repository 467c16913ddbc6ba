#pragma once

#include <QColor>
#include <QDialog>

class QLabel;
class QPushButton;

namespace ov {

struct AppContext;
class LinkLabel;

// The About box: name, version and build, and the maker's web and mail links, which the
// keyboard reaches too. Enter and Escape close it.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(AppContext& context);

    static frmAbout* showSingle(AppContext& context);

    // The two targets the links open.
    static QString webAddress();
    static QString mailLink();
    // "Build: " and the version's three numbers without separators.
    static QString buildText();

    QColor linkColour() const { return m_linkColour; }

    void Command1_Click();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    void Form_MouseMove();
    void lblLink_MouseMove();
    void lblLink_MouseUp();
    void Label2_Click();
    void setLinkColour(const QColor& colour);

    AppContext& m_context;
    QColor m_linkColour;
    QLabel* Picture1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    LinkLabel* lblLink = nullptr;
    LinkLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;
};

} // namespace ov
