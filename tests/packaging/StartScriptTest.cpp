// The README's two commands as an ordinary user on a Debian where packages are missing:
// they say what to run as root and stop, rather than dead-ending in a missing sudo.
#include "packaging/Packaging.h"
#include "support/TempDir.h"

#include <QtTest>

using namespace ov::test;

namespace {

// A dpkg-query that knows no package: everything the scripts need is missing.
const char kNothingInstalled[] = "#!/bin/sh\necho 'unknown ok not-installed'\n";
// A sudo that refuses, as it does for a user outside the sudoers.
const char kRefusingSudo[] = "#!/bin/sh\necho \"sudo asked: $*\" >&2\n"
                             "echo 'user is not in the sudoers file.' >&2\nexit 1\n";

void writeScript(const QString& path, const char* text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                QFile::ExeOther));
}

} // namespace

class StartScriptTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The user: one the test makes when it is root, else the one running it.
        if (runningAsRoot()) {
            m_user = QString("ov-start-%1").arg(QCoreApplication::applicationPid());
            const Run add = run("useradd", {"--system", "--no-create-home", "--home-dir",
                                            "/nonexistent", "--shell", "/bin/sh", m_user});
            QVERIFY2(add.ok, qPrintable(add.output));
        }
        // A copy of the scripts, so that nothing can reach the real build folder, in
        // folders the user may read.
        QVERIFY(QFile::setPermissions(QFile::decodeName(m_dir.path()),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                          QFile::ReadOther | QFile::ExeOther));
        const QString root = QFile::decodeName(m_dir.path());
        QVERIFY(QDir().mkpath(root + "/tree/scripts"));
        for (const char* name : {"deps.sh", "start.sh", "test.sh"})
            QVERIFY(QFile::copy(QStringLiteral(OV_TEST_SOURCE_DIR "/scripts/") + name,
                                root + "/tree/scripts/" + name));
        // Every command of the system, without sudo, and with the fake dpkg-query.
        m_bin = root + "/bin";
        QVERIFY(QDir().mkpath(m_bin));
        for (const char* folder : {"/usr/bin", "/bin", "/usr/sbin", "/sbin"}) {
            for (const QFileInfo& command : QDir(folder).entryInfoList(QDir::Files)) {
                if (command.fileName() != "sudo" &&
                    !QFileInfo::exists(m_bin + '/' + command.fileName()))
                    QFile::link(command.filePath(), m_bin + '/' + command.fileName());
            }
        }
        QFile::remove(m_bin + "/dpkg-query");
        writeScript(m_bin + "/dpkg-query", kNothingInstalled);
    }

    void cleanupTestCase()
    {
        if (!m_user.isEmpty())
            run("userdel", {m_user});
    }

    // Without sudo, and with a sudo that refuses: the exact line for root, status 1,
    // nothing built.
    void askForRoot_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("list");
        QTest::addColumn<bool>("withSudo");
        for (bool withSudo : {false, true}) {
            const char* how = withSudo ? "refusing sudo" : "no sudo";
            QTest::addRow("start.sh, %s", how) << "start.sh"
                                               << "build" << withSudo;
            QTest::addRow("test.sh, %s", how) << "test.sh"
                                              << "build test packaging" << withSudo;
        }
    }
    void askForRoot()
    {
        QFETCH(QString, script);
        QFETCH(QString, list);
        QFETCH(bool, withSudo);
        QFile::remove(m_bin + "/sudo");
        if (withSudo)
            writeScript(m_bin + "/sudo", kRefusingSudo);
        QStringList packages;
        for (const QString& which : list.split(' ')) {
            const Run names = run("bash", {OV_TEST_SOURCE_DIR "/scripts/deps.sh", which});
            QVERIFY2(names.ok, qPrintable(names.output));
            packages << names.output.trimmed();
        }
        const QString root = QFile::decodeName(m_dir.path());
        QStringList command{m_bin + "/env", "-i", "PATH=" + m_bin, "HOME=/nonexistent",
                            root + "/tree/scripts/" + script};
        if (!m_user.isEmpty())
            command = QStringList{"-u", m_user, "--"} + command;
        const Run started = run(m_user.isEmpty() ? command.takeFirst() : QString("runuser"),
                                command, QProcessEnvironment::systemEnvironment(), root);
        QCOMPARE(started.status, 1);
        const QString line = "apt-get update && apt-get install -y --no-install-recommends " +
                             packages.join(' ') + '\n';
        QVERIFY2(started.output.contains("\n  " + line), qPrintable(started.output));
        QVERIFY2(started.output.contains("as root"), qPrintable(started.output));
        QVERIFY2(!started.output.contains("not found"), qPrintable(started.output));
        QCOMPARE(started.output.contains("sudo asked: apt-get update"), withSudo);
        QVERIFY(!QFileInfo::exists(root + "/tree/build"));
    }

private:
    TempDir m_dir;
    QString m_user, m_bin;
};

QTEST_GUILESS_MAIN(StartScriptTest)
#include "StartScriptTest.moc"
