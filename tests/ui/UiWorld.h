#pragma once

// What the window tests share: dialogs and an opener answered by the test, and the
// services of a window on temporary settings, store and log.
#include "drive/FakeVolumes.h"
#include "platform/Dialogs.h"
#include "platform/LinkOpener.h"
#include "support/LoopMount.h"
#include "support/RecordingRunner.h"
#include "support/TempDir.h"
#include "ui/AppContext.h"

#include <QtTest>
#include <QtWidgets>

#include <cstring>
#include <deque>

namespace ov::test {

// Answers the file and folder dialogs from queues (an empty answer, or none left, is
// Cancel); records what they were asked and the message boxes as "icon|title|text".
struct FakeDialogs : Dialogs
{
    std::deque<QByteArray> files, folders;
    QStringList asked, messages;
    // What happens while a dialog is open (another window taking the activation).
    std::function<void()> whileOpen;

    void messageBox(QWidget*, Icon icon, const QString& title, const QString& text) override
    {
        if (whileOpen)
            whileOpen();
        const char* names[] = {"Information", "Exclamation", "Stop"};
        messages << QLatin1String(names[int(icon)]) + '|' + title + '|' + text;
    }
    std::optional<QByteArray> openFile(QWidget*, const QString& title, const QByteArray& start,
                                       const QString& filter) override
    {
        asked << title << QString::fromUtf8(start) << filter;
        if (whileOpen)
            whileOpen();
        return next(files);
    }
    std::optional<QByteArray> chooseFolder(QWidget*, const QString& title) override
    {
        asked << title;
        if (whileOpen)
            whileOpen();
        return next(folders);
    }
    static std::optional<QByteArray> next(std::deque<QByteArray>& answers)
    {
        if (answers.empty())
            return std::nullopt;
        const QByteArray answer = answers.front();
        answers.pop_front();
        return answer.isEmpty() ? std::nullopt : std::optional(answer);
    }
};

// Keeps the targets it is given; the test answers them in order when it likes.
struct FakeOpener : LinkOpener
{
    QStringList targets;
    std::deque<std::function<void(Outcome)>> pending;

    void open(const QString& target, std::function<void(Outcome)> done) override
    {
        targets << target;
        pending.push_back(std::move(done));
    }
    void answer(Outcome outcome)
    {
        auto done = std::move(pending.front());
        pending.pop_front();
        done(outcome);
    }
};

// Settings, store and log in a temporary folder, with the fakes and a loop that runs
// every blocking call in place. The one volume is made up too (the window never reads
// the machine's mount table): the temporary folder, which is also the current directory,
// so the Disk Cleaner starts on it; it has less free space than a cleaning fills, so a
// key that reaches "Clean Selected Drive" cannot fill a real disk.
struct World
{
    TempDir dir;
    Settings settings;
    SettingsStore store{{dir.file("etc"), dir.file("home")}};
    OperationLog log{dir.file("log.txt")};
    RecordingRunner loop;
    FakeDialogs dialogs;
    FakeOpener opener;
    FakeVolumes volumes = volumeAt(dir.path());
    AppContext context{settings, store, log, loop, dialogs, volumes, opener, dir.path()};
    QString previousFolder = QDir::currentPath();

    World() { QDir::setCurrent(QFile::decodeName(dir.path())); }
    ~World() { QDir::setCurrent(previousFolder); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    static FakeVolumes volumeAt(const QByteArray& folder)
    {
        FakeVolumes made;
        made.add(folder + "/", 1610612736, 5000).label = "TEST";
        return made;
    }
    // The same services with some of them replaced.
    AppContext with(SettingsStore* otherStore, OperationLog* otherLog = nullptr,
                    LinkOpener* otherOpener = nullptr)
    {
        return {settings,
                otherStore ? *otherStore : store,
                otherLog ? *otherLog : log,
                loop,
                dialogs,
                volumes,
                otherOpener ? *otherOpener : opener,
                dir.path()};
    }
};

// "path: the system's reason", as the reports give a failure.
inline QString reason(const QByteArray& path, int error)
{
    return QFile::decodeName(path) + ": " + QString::fromLocal8Bit(std::strerror(error));
}

} // namespace ov::test
