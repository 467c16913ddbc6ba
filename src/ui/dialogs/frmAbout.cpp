#include "ui/dialogs/frmAbout.h"

#include "ui/AccessibleLabels.h"
#include "ui/AppContext.h"
#include "ui/Artwork.h"
#include "ui/ProgramTitle.h"
#include "ui/Widgets.h"
#include "ui/dialogs/DialogSupport.h"
#include "ui/dialogs/OpenLink.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace ov {

using dialogs::twipsRect;

namespace {

const QString kSupportAddress = QStringLiteral("support@tallowbrookworks.example");

void setTextColour(QLabel* widget, const QColor& colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

double luminance(const QColor& colour)
{
    const auto channel = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

// The contrast of two colours as the web's accessibility guidelines measure it (1 to 21).
double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A link's colour: the design's where it reads on the window (4.5:1), else the palette's
// link colour (a dark desktop's is light), else the window's text colour.
QColor readableLink(const QWidget* on, const QColor& wanted)
{
    const QColor window = on->palette().color(QPalette::Window);
    for (const QColor& colour :
         {wanted, on->palette().color(QPalette::Link), on->palette().color(QPalette::WindowText)}) {
        if (contrast(colour, window) >= 4.5)
            return colour;
    }
    return on->palette().color(QPalette::WindowText);
}

} // namespace

frmAbout::frmAbout(AppContext& context) : m_context(context)
{
    setObjectName(QStringLiteral("frmAbout"));
    dialogs::makeFixedWindow(*this, QStringLiteral("About Ombrevault "), 4680, 2250);
    setMouseTracking(true);

    Picture1 = place<QLabel>(this, "Picture1", {}, twipsRect(360, 240, 3735, 495));
    Picture1->setPixmap(aboutBanner(devicePixelRatioF()));
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setAccessibleName(programTitle());
    // The picture box shows the banner's left part; it is no text that needs room.
    Picture1->setMinimumSize(Picture1->size());
    Picture1->setMaximumSize(Picture1->size());

    // The light colour of the old raised look, on a darker copy of itself so that it
    // reads on the light window.
    Label4 = place<EmbossedLabel>(
        this, "Label4", QStringLiteral("%1.%2").arg(OV_VERSION_MAJOR).arg(OV_VERSION_MINOR),
        twipsRect(4080, 0, 495, 375));
    Label4->setFont(dialogs::windowFont(QStringLiteral("MS Sans Serif"), 13.5, true));
    setTextColour(Label4, palette().color(QPalette::Light));

    Label5 = place<QLabel>(this, "Label5", QStringLiteral("by Tallowbrook Works"),
                           twipsRect(2520, 720, 1575, 255));

    lblLink =
        place<LinkLabel>(this, "lblLink", webAddress().toUpper(), twipsRect(1080, 1200, 2385, 195));
    lblLink->setFont(dialogs::windowFont(QStringLiteral("Tahoma"), 8.25));
    // As wide as its text; its height is the planned one, grown by the fit below so that
    // what lies under it moves along.
    lblLink->resize(lblLink->sizeHint().width(), lblLink->height());
    lblLink->setMouseTracking(true);
    lblLink->setCursor(Qt::PointingHandCursor);
    lblLink->installEventFilter(this);
    m_linkColour = lblLink->palette().color(QPalette::ButtonText);
    setTextColour(lblLink, m_linkColour);

    Label2 = place<LinkLabel>(this, "Label2", kSupportAddress, twipsRect(1200, 1440, 2025, 315));
    Label2->setFont(dialogs::windowFont(QStringLiteral("MS Sans Serif"), 8.25, true));
    setTextColour(Label2, readableLink(this, QColor(0, 0, 192)));
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->installEventFilter(this);

    Label1 = place<QLabel>(this, "Label1", {}, twipsRect(0, 1920, 1215, 255));

    Command1 = new QPushButton(QStringLiteral("Close"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(3360, 1920, 1095, 255));
    Command1->setFont(dialogs::windowFont(QStringLiteral("Tahoma"), 9));
    connect(Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);

    // The keyboard opens the links as the mouse does; Enter anywhere else closes.
    connect(lblLink, &LinkLabel::activated, this, &frmAbout::lblLink_MouseUp);
    connect(Label2, &LinkLabel::activated, this, &frmAbout::Label2_Click);
    dialogs::makeDefaultButton(*this, Command1);
    QWidget::setTabOrder(Command1, lblLink);
    QWidget::setTabOrder(lblLink, Label2);
    Command1->setFocus();

    Form_Load();
    dialogs::fitWindow(*this);
    // The web link is as wide as its text, which a desktop font larger than the design's
    // carries past the box's planned right edge: the box then grows to keep the margin it
    // planned beside its widest control, so that the link ends clear of the edge.
    int right = 0;
    for (const QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        right = std::max(right, child->geometry().right() + 1);
    const int margin = twipsRect(0, 0, 4680 - 4575, 0).width();
    if (right + margin > width())
        setFixedWidth(right + margin);
}

frmAbout* frmAbout::showSingle(AppContext& context)
{
    static QPointer<frmAbout> instance;
    return dialogs::showSingle(instance, context);
}

QString frmAbout::webAddress()
{
    return QStringLiteral("https://www.tallowbrookworks.example/");
}

QString frmAbout::mailLink()
{
    return QStringLiteral("mailto:") + kSupportAddress;
}

QString frmAbout::buildText()
{
    return QStringLiteral("Build: ") + QString::number(OV_VERSION_MAJOR) +
           QString::number(OV_VERSION_MINOR) + QString::number(OV_VERSION_PATCH);
}

void frmAbout::Form_Load()
{
    Label1->setText(buildText());
}

void frmAbout::setLinkColour(const QColor& colour)
{
    // Only a real change repaints: mouse moves come in quick succession.
    if (colour == m_linkColour)
        return;
    m_linkColour = colour;
    setTextColour(lblLink, colour);
}

void frmAbout::Form_MouseMove()
{
    setLinkColour(readableLink(this, QColor(0, 0, 255)));
}

void frmAbout::lblLink_MouseMove()
{
    setLinkColour(QColor(255, 0, 0));
}

void frmAbout::lblLink_MouseUp()
{
    OpenLink(webAddress(), m_context, this);
}

void frmAbout::Label2_Click()
{
    OpenLink(mailLink(), m_context, this);
}

void frmAbout::Command1_Click()
{
    close();
}

void frmAbout::mouseMoveEvent(QMouseEvent* event)
{
    // Moves over controls without tracking of their own arrive here as well; only the
    // window's empty area turns the link blue.
    if (!childAt(event->position().toPoint()))
        Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    const auto inside = [](QWidget* widget, QEvent* e) {
        return widget->rect().contains(static_cast<QMouseEvent*>(e)->position().toPoint());
    };
    if (watched == lblLink) {
        if (event->type() == QEvent::MouseMove) {
            lblLink_MouseMove();
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease && inside(lblLink, event)) {
            lblLink_MouseUp();
            return true;
        }
    } else if (watched == Label2 && event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && inside(Label2, event)) {
            Label2_Click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ov
