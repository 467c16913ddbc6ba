#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QTextLayout>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace ov {

// The window of cTooltip: keeps the registered controls, watches their mouse events
// and shows one tip at a time.
class TipWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TipWindow(QWidget* parent);
    ~TipWindow() override;

    // 0 or less: no limit.
    void setMaxTipWidth(int pixels);
    void setInitialDelay(int ms) { m_initialDelay = ms; }
    int initialDelay() const { return m_initialDelay; }
    void setAutoPop(int ms) { m_autoPop = ms; }
    int autoPop() const { return m_autoPop; }

    void addTool(QWidget* tool, const QString& text, bool centred);
    const QString& text() const { return m_text; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Tool
    {
        QString text;
        bool centred = false;
    };

    void enterTool(QWidget* tool);
    void leaveTool();
    void showTip();
    void hideTip(bool untilLeave);
    void layoutText();
    void forget(QObject* gone);
    QWidget* toolOf(QObject* watched) const;

    QHash<QObject*, Tool> m_tools;
    QHash<QObject*, QWidget*> m_watched; // a control or its viewport -> the control
    QPointer<QWidget> m_current;
    bool m_suppressed = false;
    int m_maxWidth = 0;
    int m_initialDelay = 500;
    int m_autoPop = 5000;
    QString m_text;
    std::unique_ptr<QTextLayout> m_layout;
    QTimer m_delayTimer;
    QTimer m_popTimer;
};

} // namespace ov
