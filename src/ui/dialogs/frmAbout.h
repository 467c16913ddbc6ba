#pragma once

#include <QColor>
#include <QWidget>

class QLabel;
class QPushButton;

namespace ov {

struct AppContext;

// The About box: name, version and build, and the maker's web and mail links.
class frmAbout : public QWidget
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
    QLabel* lblLink = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr;
};

} // namespace ov
