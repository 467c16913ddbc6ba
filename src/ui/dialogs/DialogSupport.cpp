#include "ui/dialogs/DialogSupport.h"

#include "ui/Fit.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>

namespace ov::dialogs {

namespace {
constexpr int kCaptionFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
} // namespace

QFont windowFont(const QString& family, double points, bool bold)
{
    QFont font = QApplication::font();
    if (QFontDatabase::hasFamily(family))
        font.setFamilies({family});
    // The sizes of the design are the least: a desktop font set larger for reading wins.
    font.setPointSizeF(std::max(points, QApplication::font().pointSizeF()));
    font.setBold(bold);
    return font;
}

QRect WrappingRadioButton::captionArea(const QRect& rect) const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect = rect;
    return style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
}

int WrappingRadioButton::heightForWidth(int width) const
{
    const QRect area = captionArea(QRect(0, 0, width, height()));
    const QRect lines =
        fontMetrics().boundingRect(QRect(0, 0, area.width(), 1 << 20), kCaptionFlags, text());
    QStyleOptionButton option;
    initStyleOption(&option);
    const int indicator = style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, &option, this);
    return std::max(lines.height(), indicator) + 2;
}

void WrappingRadioButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_RadioButton, option);
    const QRect textArea = captionArea(rect());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textArea, kCaptionFlags, caption);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = textArea;
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool WrappingRadioButton::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void makeFixedWindow(QDialog& window, const QString& caption, int innerWidthTwips,
                     int innerHeightTwips)
{
    window.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setModal(false);
    window.setAttribute(Qt::WA_DeleteOnClose);
    window.setWindowTitle(caption);
    window.setFixedSize(px(innerWidthTwips), px(innerHeightTwips));
    window.setFont(windowFont(QStringLiteral("MS Sans Serif"), 8.25));
}

void fitWindow(QDialog& window)
{
    window.setFixedSize(fitToText(&window));
}

void makeDefaultButton(QDialog& window, QPushButton* button)
{
    for (QPushButton* other : window.findChildren<QPushButton*>())
        other->setAutoDefault(false);
    button->setDefault(true);
}

} // namespace ov::dialogs
