#pragma once

#include "platform/Dialogs.h"
#include "platform/LinkOpener.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"
#include "ui/AppContext.h"

#include <QProcess>

#include <functional>
#include <memory>
#include <vector>

namespace ov::test {

// Records the message boxes instead of showing them.
class MessageRecorder : public Dialogs
{
public:
    struct Message
    {
        Icon icon;
        QString title;
        QString text;
    };
    void messageBox(QWidget*, Icon icon, const QString& title, const QString& text) override
    {
        messages.push_back({icon, title, text});
    }
    std::optional<QByteArray> openFile(QWidget*, const QString&, const QByteArray&,
                                       const QString&) override
    {
        return std::nullopt;
    }
    std::optional<QByteArray> chooseFolder(QWidget*, const QString&) override
    {
        return std::nullopt;
    }
    std::vector<Message> messages;
};

// Keeps the targets it is given; the test answers them when it likes.
class FakeOpener : public LinkOpener
{
public:
    void open(const QString& target, std::function<void(Outcome)> done) override
    {
        targets.append(target);
        pending.push_back(std::move(done));
    }
    void answer(Outcome outcome)
    {
        auto done = std::move(pending.front());
        pending.erase(pending.begin());
        done(outcome);
    }
    QStringList targets;
    std::vector<std::function<void(Outcome)>> pending;
};

// A store, a log and the fakes in folders of their own.
struct DialogWorld
{
    TempDir dir;
    Settings settings;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<OperationLog> log;
    RecordingLoop loop;
    MessageRecorder dialogs;
    FakeOpener opener;
    AppContext context;

    explicit DialogWorld(QByteArray logPath = {})
    {
        SettingsStore::Locations where{dir.file("etc-xdg"), dir.file("config")};
        store = std::make_unique<SettingsStore>(where);
        log = std::make_unique<OperationLog>(logPath.isEmpty() ? dir.file("log.txt") : logPath);
        context.settings = &settings;
        context.store = store.get();
        context.log = log.get();
        context.loop = &loop;
        context.dialogs = &dialogs;
        context.opener = &opener;
    }
};

// chattr +i for the life of the object; says why not when it cannot.
class Immutable
{
public:
    explicit Immutable(QByteArray path) : m_path(std::move(path))
    {
        QProcess chattr;
        chattr.start(QStringLiteral("chattr"), {QStringLiteral("+i"), QFile::decodeName(m_path)});
        m_ok = chattr.waitForFinished() && chattr.exitStatus() == QProcess::NormalExit &&
               chattr.exitCode() == 0;
    }
    ~Immutable()
    {
        if (m_ok)
            QProcess::execute(QStringLiteral("chattr"),
                              {QStringLiteral("-i"), QFile::decodeName(m_path)});
    }
    bool ok() const { return m_ok; }

private:
    QByteArray m_path;
    bool m_ok = false;
};

} // namespace ov::test
