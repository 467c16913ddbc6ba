#pragma once
// ombrevault-cli run as a user would run it, with a settings store of the test's own.
#include "support/Child.h"
#include "support/TempDir.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace ov {

using test::exists;
using test::readFile;

struct Result
{
    int exitCode = -1;
    QString out, err;
};

class Cli : public ::testing::Test
{
protected:
    Cli()
    {
        env.insert("XDG_CONFIG_DIRS", QString::fromUtf8(config.path()));
        env.insert("XDG_CONFIG_HOME", QString::fromUtf8(config.path()) + "/user");
    }
    void storeSettings(const QByteArray& values)
    {
        QDir().mkpath(QString::fromUtf8(config.path()) + "/ombrevault");
        test::writeFile(config.path() + "/ombrevault/HKEY_LOCAL_MACHINE.ini",
                        "[Software]\n" + values);
    }
    void start(QProcess& process, const QStringList& args)
    {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(QString::fromUtf8(dir.path()));
        process.start(QStringLiteral(OV_CLI_PATH), args);
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    Result run(const QStringList& args)
    {
        QProcess process;
        start(process, args);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    Result wipe(const QStringList& args) { return run(QStringList{"wipe"} + args); }
    // Ctrl-C once `ready` holds; false if it never did or the program did not end.
    static bool interruptWhen(QProcess& process, const std::function<bool()>& ready)
    {
        QDeadlineTimer deadline(30000);
        while (!ready()) {
            if (deadline.hasExpired() || process.state() != QProcess::Running)
                return false;
            process.waitForFinished(5);
        }
        ::kill(pid_t(process.processId()), SIGINT);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    }
    QString make(const QByteArray& name, const QByteArray& content = "confidential")
    {
        test::writeFile(dir.file(name), content);
        const timespec longAgo[2] = {{1, 0}, {1, 0}};
        ::utimensat(AT_FDCWD, dir.file(name).constData(), longAgo, 0);
        return QString::fromUtf8(dir.file(name));
    }

    // The child of a test that must see it end by a signal, or draw on a terminal.
    std::unique_ptr<test::Child> spawn(const QStringList& args, test::Child::Options options = {})
    {
        QList<QByteArray> words;
        for (const QString& arg : args)
            words << QFile::encodeName(arg);
        return spawnBytes(words, std::move(options));
    }
    // The same with words of any bytes (names that are not UTF-8).
    std::unique_ptr<test::Child> spawnBytes(const QList<QByteArray>& words,
                                            test::Child::Options options = {})
    {
        QList<QByteArray> argv = QList<QByteArray>{OV_CLI_PATH} + words;
        if (options.folder.isEmpty())
            options.folder = dir.path();
        for (const QString& name : env.keys())
            options.environment << QFile::encodeName(name) + '=' +
                                       QFile::encodeName(env.value(name));
        auto child = std::make_unique<test::Child>(argv, options);
        EXPECT_TRUE(child->started());
        return child;
    }
    // Waits until `ready` holds, reading the child's output meanwhile; false if it ended
    // first or never did.
    static bool waitUntil(test::Child& child, const std::function<bool()>& ready)
    {
        QDeadlineTimer deadline(60000);
        while (!ready()) {
            if (deadline.hasExpired() || !child.pump(5))
                return false;
        }
        return true;
    }
    // Whether the first byte of the file is no longer `original` (the wipe has begun).
    // Whether the wipe has begun writing over a file made by make(), which dates it back to
    // 1970: looked at without opening it, since a wipe stops when another program opens
    // its file.
    static bool overwritingBegun(const QString& path, char /*original*/)
    {
        struct stat st = {};
        return ::stat(path.toUtf8().constData(), &st) == 0 && st.st_mtim.tv_sec > 1;
    }

    test::TempDir dir, config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

} // namespace ov
