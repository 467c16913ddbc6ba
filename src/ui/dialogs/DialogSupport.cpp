#include "ui/dialogs/DialogSupport.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace ov::dialogs {

QFont windowFont(const QString& family, double points, bool bold)
{
    QFont font(family);
    // Fonts with the narrow metrics of the old ones come first, then whatever sans-serif
    // the system has.
    font.setFamilies({family, QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void WrappingRadioButton::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_RadioButton, option);
    option.text = caption;
    const QRect textArea = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(textArea, int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap), caption);
}

bool WrappingRadioButton::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void makeFixedWindow(QWidget& window, const QString& caption, int innerWidthTwips,
                     int innerHeightTwips)
{
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window.setAttribute(Qt::WA_DeleteOnClose);
    window.setWindowTitle(caption);
    window.setFixedSize(px(innerWidthTwips), px(innerHeightTwips));
    window.setFont(windowFont(QStringLiteral("MS Sans Serif"), 8.25));
}

} // namespace ov::dialogs
