#include "ui/main/cTooltip.h"

#include "ui/main/TipWindow.h"

#include <QWidget>

#include <algorithm>

namespace ov {

namespace {

constexpr int kLongestTime = 32767;

void limitTime(int& lngTime)
{
    lngTime = std::clamp(lngTime, 0, kLongestTime);
}

} // namespace

cTooltip::cTooltip() = default;

cTooltip::~cTooltip()
{
    Destroy();
}

void cTooltip::setMaxWidth(int lngMaxWidth)
{
    mlngMaxWidth = lngMaxWidth;
    if (mlngHwndTip)
        mlngHwndTip->setMaxTipWidth(mlngMaxWidth);
}

int cTooltip::VisibleTime() const
{
    return mlngHwndTip ? mlngHwndTip->autoPop() : 0;
}

void cTooltip::setVisibleTime(int& lngTime)
{
    limitTime(lngTime);
    if (mlngHwndTip)
        mlngHwndTip->setAutoPop(lngTime);
}

int cTooltip::DelayTime() const
{
    return mlngHwndTip ? mlngHwndTip->initialDelay() : 0;
}

void cTooltip::setDelayTime(int& lngTime)
{
    limitTime(lngTime);
    if (mlngHwndTip)
        mlngHwndTip->setInitialDelay(lngTime);
}

void cTooltip::Create(QWidget* lngHwndParent)
{
    // One window per object: an earlier one would go on showing its tips unowned.
    Destroy();
    mlngHwndTip = new TipWindow(lngHwndParent);
    mlngHwndTip->setMaxTipWidth(mlngMaxWidth);
}

void cTooltip::Destroy()
{
    delete mlngHwndTip.data();
    mlngHwndTip = nullptr;
}

void cTooltip::AddControl(QWidget* ctlTool, const QString& strCaption, bool blnCenterTip)
{
    if (!mlngHwndTip || !ctlTool)
        return;
    mlngHwndTip->addTool(ctlTool, strCaption, blnCenterTip);
    // What the mouse shows, a screen reader reads.
    ctlTool->setAccessibleDescription(strCaption);
}

QWidget* cTooltip::tipWindow() const
{
    return mlngHwndTip.data();
}

QString cTooltip::shownText() const
{
    return mlngHwndTip && mlngHwndTip->isVisible() ? mlngHwndTip->text() : QString();
}

} // namespace ov
