#include "ui/dialogs/OpenLink.h"

#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/LinkOpener.h"
#include "platform/PathText.h"
#include "platform/Paths.h"
#include "ui/AppContext.h"

#include <QFile>
#include <QPointer>
#include <QWidget>

#include <optional>

namespace ov {

namespace {

// xdg-open's exit statuses.
constexpr int kOpenerFileNotFound = 2;
constexpr int kOpenerNoTool = 3;

// The texts of the three failure boxes.
QString linkNotFoundText(const QString& target)
{
    return QStringLiteral("The Path:\n'") + target + QStringLiteral("'\nWas Not Found.");
}

QString noAssociationText()
{
    const QString stars(69, QLatin1Char('*'));
    return stars + QLatin1Char('\n') +
           QStringLiteral("!     No Association Found for HTTP Addresses.                !") +
           QLatin1Char('\n') +
           QStringLiteral("!     A Web Browser should be Installed or reinstalled         !") +
           QLatin1Char('\n') + stars;
}

QString openErrorText(const QString& target, int result)
{
    return QStringLiteral("An error occurred attempting to open your browser to path...\n'") +
           target + QStringLiteral("'\nERROR Return code: ( ") + QString::number(result) +
           QStringLiteral(" )");
}

// The local path a target names, or nothing for an address of another kind.
std::optional<QByteArray> localPath(const QString& target)
{
    if (target.startsWith(QLatin1Char('/')))
        return QFile::encodeName(target);
    return localPathOfFileUri(target.toUtf8());
}

bool pathExists(const QByteArray& path)
{
    return fs::existsFollowingLinks(path);
}

void showNotFound(Dialogs& dialogs, QWidget* parent, const QString& target)
{
    dialogs.messageBox(parent, Dialogs::Icon::Exclamation, QStringLiteral("Link Not Found"),
                       linkNotFoundText(target));
}

} // namespace

QByteArray helpPagePath()
{
    return dataFolder() + "/help/help.html";
}

void OpenLink(const QString& target, AppContext& context, QWidget* parent,
              std::function<bool(QWidget*)> fallback)
{
    Dialogs& dialogs = context.dialogs;
    // A local document that is not there is reported at once: the opener would only
    // find the same and some openers hand it to a browser regardless.
    if (auto path = localPath(target); path && !pathExists(*path)) {
        showNotFound(dialogs, parent, target);
        return;
    }
    LinkOpener& opener = context.opener;
    // The asking window may be closed before the opener answers.
    QPointer<QWidget> owner(parent);
    opener.open(target, [&dialogs, owner, target,
                         fallback = std::move(fallback)](LinkOpener::Outcome outcome) {
        QWidget* parentNow = owner.data();
        const bool shown =
            outcome.kind == LinkOpener::Outcome::Kind::Finished && outcome.exitStatus == 0;
        if (!shown && fallback && fallback(parentNow))
            return;
        switch (outcome.kind) {
        case LinkOpener::Outcome::Kind::NotStarted:
            dialogs.messageBox(parentNow, Dialogs::Icon::Exclamation,
                               QStringLiteral("No Association In Registry"), noAssociationText());
            return;
        case LinkOpener::Outcome::Kind::Crashed:
            break;
        case LinkOpener::Outcome::Kind::Finished:
            if (outcome.exitStatus == 0)
                return;
            if (outcome.exitStatus == kOpenerFileNotFound) {
                showNotFound(dialogs, parentNow, target);
                return;
            }
            if (outcome.exitStatus == kOpenerNoTool) {
                dialogs.messageBox(parentNow, Dialogs::Icon::Exclamation,
                                   QStringLiteral("No Association In Registry"),
                                   noAssociationText());
                return;
            }
            break;
        }
        dialogs.messageBox(parentNow, Dialogs::Icon::Stop, QStringLiteral("ERROR"),
                           openErrorText(target, outcome.exitStatus));
    });
}

} // namespace ov
