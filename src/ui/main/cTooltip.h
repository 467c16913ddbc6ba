#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace ov {

class TipWindow;

// Rectangular help tips on the controls of one window. The tip of a registered control
// shows when the mouse has rested DelayTime ms on it (whether or not the window is
// active), hides after VisibleTime ms, is at most MaxWidth pixels wide with longer texts
// wrapped, and sits centred below the control or below the mouse. The timings live in
// the tooltip window made by Create; without one they read as 0.
class cTooltip : public QObject
{
    Q_OBJECT
public:
    cTooltip();
    ~cTooltip() override;

    int MaxWidth() const { return mlngMaxWidth; }
    void setMaxWidth(int lngMaxWidth);
    // Both writers limit the time to 0 ... 32767 and write the limited value back.
    int VisibleTime() const;
    void setVisibleTime(int& lngTime);
    int DelayTime() const;
    void setDelayTime(int& lngTime);

    void Create(QWidget* lngHwndParent);
    void Destroy();
    void AddControl(QWidget* ctlTool, const QString& strCaption, bool blnCenterTip);

    // The tooltip window (null before Create and after Destroy), to look at its tip.
    QWidget* tipWindow() const;
    QString shownText() const;

private:
    QPointer<TipWindow> mlngHwndTip;
    int mlngMaxWidth = 300;
};

} // namespace ov
