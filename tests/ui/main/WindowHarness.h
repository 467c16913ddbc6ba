#pragma once

#include "platform/Dialogs.h"
#include "settings/OperationLog.h"
#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "support/RecordingLoop.h"
#include "support/TempDir.h"
#include "ui/AppContext.h"
#include "ui/main/CommandLine.h"
#include "ui/main/frmMain.h"

#include <QDir>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace ov::test {

// Answers the window's dialogs from queues and records what they were asked.
class FakeDialogs : public Dialogs
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
    std::optional<QByteArray> openFile(QWidget*, const QString& title,
                                       const QByteArray& startFolder,
                                       const QString& filter) override
    {
        openTitle = title;
        openStart = startFolder;
        openFilter = filter;
        return next(fileAnswers);
    }
    std::optional<QByteArray> chooseFolder(QWidget*, const QString& title) override
    {
        folderTitle = title;
        return next(folderAnswers);
    }

    // The answers in turn; an empty answer, or none left, is Cancel.
    std::deque<QByteArray> fileAnswers;
    std::deque<QByteArray> folderAnswers;
    std::vector<Message> messages;
    QString openTitle, openFilter, folderTitle;
    QByteArray openStart;

private:
    static std::optional<QByteArray> next(std::deque<QByteArray>& answers)
    {
        if (answers.empty())
            return std::nullopt;
        const QByteArray answer = answers.front();
        answers.pop_front();
        if (answer.isEmpty())
            return std::nullopt;
        return answer;
    }
};

// A main window on temporary settings, log and dialogs, with a loop that runs every
// blocking call in place and lets a test act at each yield.
struct WindowHarness
{
    TempDir dir;
    Settings settings;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<OperationLog> log;
    RecordingLoop loop;
    FakeDialogs dialogs;
    AppContext context;
    std::unique_ptr<frmMain> window;

    // iniText: the machine-wide settings file's contents (none when empty).
    explicit WindowHarness(const CommandLine& commandLine = {}, const QByteArray& iniText = {})
    {
        SettingsStore::Locations locations{dir.file("etc"), dir.file("home")};
        store = std::make_unique<SettingsStore>(locations);
        if (!iniText.isEmpty()) {
            QDir().mkpath(QString::fromUtf8(dir.file("etc/ombrevault")));
            writeFile(dir.file("etc/ombrevault/HKEY_LOCAL_MACHINE.ini"), iniText);
        }
        log = std::make_unique<OperationLog>(dir.file("log.txt"));
        context.settings = &settings;
        context.store = store.get();
        context.log = log.get();
        context.loop = &loop;
        context.dialogs = &dialogs;
        window = std::make_unique<frmMain>(context, commandLine);
    }

    template <typename T> T* child(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }
};

} // namespace ov::test
