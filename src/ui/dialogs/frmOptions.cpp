#include "ui/dialogs/frmOptions.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "ui/AppContext.h"
#include "ui/ProgramTitle.h"
#include "ui/Stacking.h"
#include "ui/Widgets.h"
#include "ui/dialogs/DialogSupport.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include <iterator>
#include <optional>

namespace ov {

using dialogs::twipsRect;

namespace {

const char* const kLevels[3] = {"1", "2", "3"};

// A stored text that reads as the number 1 ("1", "01", " 1").
bool readsAsOne(const QString& text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && value == 1.0;
}

QFrame* page(QWidget* parent, const char* name, const QString& title, QRect rect)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(QLatin1String(name));
    frame->setAccessibleName(title); // by the button that brings it forward
    frame->setFrameShape(QFrame::NoFrame);
    // The page in front hides the one behind it.
    frame->setAutoFillBackground(true);
    frame->setGeometry(rect);
    return frame;
}

} // namespace

frmOptions::frmOptions(AppContext& context) : m_context(context)
{
    setObjectName(QStringLiteral("frmOptions"));
    dialogs::makeFixedWindow(*this, QStringLiteral("Options"), 6300, 2520);

    Command2 = place<QPushButton>(this, "Command2", QStringLiteral("General"),
                                  twipsRect(120, 120, 1215, 255));
    Command1 = place<QPushButton>(this, "Command1", QStringLiteral("Security"),
                                  twipsRect(1440, 120, 1215, 255));

    Frame1 = page(this, "Frame1", Command1->text(), twipsRect(120, 480, 6015, 1455));
    m_option1Group = new QButtonGroup(this);
    m_option1Group->setObjectName(QStringLiteral("Option1"));
    // One line for the least level, two that wrap for the others.
    m_option1[0] = place<QRadioButton>(
        Frame1, "Option1_0",
        QStringLiteral("Least security - Less security, but fast completion time. "),
        twipsRect(120, 120, 5175, 255));
    m_option1[1] = place<dialogs::WrappingRadioButton>(
        Frame1, "Option1_1",
        QStringLiteral("Medium security - Strong enough to stop most of data recovery methods."),
        twipsRect(120, 360, 5535, 375));
    m_option1[2] = place<dialogs::WrappingRadioButton>(
        Frame1, "Option1_2",
        QStringLiteral("High security - Strongest wiping power, but slow. Prevents all data "
                       "recovery. WARNING: Extremely slow."),
        twipsRect(120, 720, 5655, 375));
    for (int i = 0; i < 3; ++i)
        m_option1Group->addButton(m_option1[i], i);
    Label1 =
        place<QLabel>(Frame1, "Label1", QStringLiteral("These options apply only to File Cleaner."),
                      twipsRect(1560, 1200, 3735, 255));

    Frame2 = page(this, "Frame2", Command2->text(), twipsRect(120, 600, 6015, 1335));
    Check2 = place<QCheckBox>(
        Frame2, "Check2",
        QStringLiteral("Name scramblinng - more time but more secure (File Cleaner)"),
        twipsRect(240, 0, 5055, 255));
    Check1 = place<QCheckBox>(Frame2, "Check1", QStringLiteral("Log all operations"),
                              twipsRect(240, 360, 2055, 255));

    cmdCancel = place<QPushButton>(this, "cmdCancel", QStringLiteral("Cancel"),
                                   twipsRect(4080, 2160, 975, 255));
    cmdOK =
        place<QPushButton>(this, "cmdOK", QStringLiteral("Save "), twipsRect(5160, 2160, 975, 255));

    dialogs::makeDefaultButton(*this, cmdOK);

    // Tab order: Cancel, Save, the levels from high to least, the two boxes, the page
    // buttons from Security to General.
    QWidget* const order[] = {cmdCancel, cmdOK,  m_option1[2], m_option1[1], m_option1[0],
                              Check1,    Check2, Command1,     Command2};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
    // The general page lies in front; the security page shows as a strip above it and
    // takes no key (covered after the Tab order is set: Qt orders no covered control).
    Frame2->raise();
    setCovered(Frame1, true, Cover::Partly); // its strip above the other page shows
    cmdCancel->setFocus();
    dialogs::fitWindow(*this);

    connect(Command1, &QPushButton::clicked, this, &frmOptions::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmOptions::Command2_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmOptions::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);

    Form_Load();
}

frmOptions* frmOptions::showSingle(AppContext& context)
{
    static QPointer<frmOptions> instance;
    return dialogs::showSingle(instance, context);
}

QRadioButton* frmOptions::Option1(int index) const
{
    return index >= 0 && index < 3 ? m_option1[index] : nullptr;
}

void frmOptions::Form_Load()
{
    // The store, not the running copy: the dialog shows what later runs will get.
    const QString log = m_context.store.ReadSetting(QStringLiteral("Log"));
    const QString scramble = m_context.store.ReadSetting(QStringLiteral("Scramble"));
    Check1->setChecked(readsAsOne(log));
    Check2->setChecked(readsAsOne(scramble));
    const QString level = m_context.store.ReadSetting(QStringLiteral("strenth"));
    for (int i = 0; i < 3; ++i) {
        if (level == QLatin1String(kLevels[i]))
            m_option1[i]->setChecked(true);
    }
}

void frmOptions::Command1_Click()
{
    bringToFront(Frame1, Frame2, m_option1[2]); // the first of the page in the Tab order
}

void frmOptions::Command2_Click()
{
    bringToFront(Frame2, Frame1, Check1);
}

void frmOptions::cmdOK_Click()
{
    const bool logOn = Check1->isChecked();
    const bool scrambleOn = Check2->isChecked();
    const int level = m_option1Group->checkedId();

    std::optional<Error> failure;
    try {
        m_context.store.WriteSetting(QStringLiteral("Log"), logOn ? "1" : "0");
        m_context.store.WriteSetting(QStringLiteral("Scramble"), scrambleOn ? "1" : "0");
        if (level >= 0)
            m_context.store.WriteSetting(QStringLiteral("Strenth"), kLevels[level]);
    } catch (const Error& error) {
        failure = error;
    }

    // The running copy takes the choices even when the store could not: they hold until
    // the program ends.
    Settings& settings = m_context.settings;
    settings.LogOperations = logOn;
    settings.ScrambleNames = scrambleOn;
    if (level >= 0)
        settings.SecurityLevel = QLatin1String(kLevels[level]);

    if (failure) {
        m_context.dialogs.messageBox(
            this, Dialogs::Icon::Exclamation, programTitle(),
            QStringLiteral("The settings could not be saved.\n") + failure->text() +
                QStringLiteral("\nThe new choices apply until the program ends."));
    }
    close();
}

void frmOptions::cmdCancel_Click()
{
    close();
}

} // namespace ov
