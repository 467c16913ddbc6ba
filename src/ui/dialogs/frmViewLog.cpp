#include "ui/dialogs/frmViewLog.h"

#include "platform/BlockingRunner.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "ui/AppContext.h"
#include "ui/ProgramTitle.h"
#include "ui/WideList.h"
#include "ui/Widgets.h"
#include "ui/dialogs/DialogSupport.h"
#include "wipe/PathHelpers.h"
#include "wipe/WipeMethods.h"

#include <QPointer>
#include <QPushButton>

#include <cerrno>

namespace ov {

using dialogs::twipsRect;

namespace {

// One text per line, without the line ends (LF or CR LF); bytes that are not UTF-8
// show as replacement characters.
QStringList splitLines(const QByteArray& content)
{
    QStringList lines;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        const qsizetype next = end < 0 ? content.size() : end + 1;
        if (end < 0)
            end = content.size();
        qsizetype length = end - start;
        if (length > 0 && content.at(start + length - 1) == '\r')
            --length;
        lines.append(QString::fromUtf8(content.constData() + start, length));
        start = next;
    }
    return lines;
}

} // namespace

frmViewLog::frmViewLog(AppContext& context) : m_context(context)
{
    setObjectName(QStringLiteral("frmViewLog"));
    dialogs::makeFixedWindow(*this, QStringLiteral("Log viewer"), 7275, 2025);
    const QFont buttonFont = dialogs::windowFont(QStringLiteral("Tahoma"), 8.25);

    // Scrolls sideways to the end of the longest line.
    List1 = new WideList(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twipsRect(120, 120, 7095, 1425));
    List1->setAccessibleName(QStringLiteral("Operation log"));

    Command2 = place<QPushButton>(this, "Command2", QStringLiteral("Clear Log"),
                                  twipsRect(4560, 1680, 1215, 255));
    Command2->setFont(buttonFont);
    cmdExit = place<QPushButton>(this, "cmdExit", QStringLiteral("Close"),
                                 twipsRect(6000, 1680, 1215, 255));
    cmdExit->setFont(buttonFont);

    // Enter closes; "Clear Log" only by its own press.
    dialogs::makeDefaultButton(*this, cmdExit);
    dialogs::fitWindow(*this);

    connect(Command2, &QPushButton::clicked, this, &frmViewLog::Command2_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmViewLog::cmdExit_Click);

    Form_Load();
}

frmViewLog* frmViewLog::showSingle(AppContext& context)
{
    static QPointer<frmViewLog> instance;
    return dialogs::showSingle(instance, context);
}

void frmViewLog::Form_Load()
{
    const QByteArray path = m_context.log.path();
    if (!FileExists(path)) {
        List1->addItem(QStringLiteral("No log file exists"));
        return;
    }
    QByteArray content;
    try {
        // A long log on a slow disk must not freeze the window.
        m_context.runner.runBlocking([&] { content = fs::readFile(path); });
    } catch (const Error& error) {
        List1->addItem(QStringLiteral("The log file could not be read: ") + error.text());
        return;
    }
    List1->addItems(splitLines(content));
}

void frmViewLog::Command2_Click()
{
    List1->clear();
    const QByteArray path = m_context.log.path();
    if (!FileAccessible(path))
        return;
    try {
        m_context.runner.runBlocking([&] { fs::removeFile(path); });
    } catch (const Error& error) {
        m_context.dialogs.messageBox(this, Dialogs::Icon::Exclamation, programTitle(),
                                     QStringLiteral("The log file could not be deleted.\n") +
                                         error.text());
    }
}

void frmViewLog::cmdExit_Click()
{
    close();
}

} // namespace ov
