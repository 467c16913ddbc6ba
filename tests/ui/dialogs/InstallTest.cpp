#include "platform/Paths.h"
#include "support/TempDir.h"
#include "ui/dialogs/OpenLink.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace ov::test {

namespace {

// cmake with arguments (and DESTDIR when given); its output on failure.
bool runCmake(const QStringList& args, const QByteArray& destdir, QString* output)
{
    QProcess cmake;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!destdir.isEmpty())
        env.insert(QStringLiteral("DESTDIR"), QFile::decodeName(destdir));
    cmake.setProcessEnvironment(env);
    cmake.setProcessChannelMode(QProcess::MergedChannels);
    cmake.start(QStringLiteral(OV_TEST_CMAKE), args);
    const bool done = cmake.waitForFinished(120000);
    *output = QString::fromLocal8Bit(cmake.readAll());
    return done && cmake.exitStatus() == QProcess::NormalExit && cmake.exitCode() == 0;
}

// Where the program behind a launcher looks for its help page: the real folder of the
// executable the link leads to, followed by /help/help.html.
QString helpPageSeenFrom(const QString& launcher)
{
    return QFileInfo(launcher).canonicalPath() + QStringLiteral("/help/help.html");
}

void checkProgramFolder(const QString& folder)
{
    for (const char* name : {"ombrevault", "ombrevault-cli"}) {
        const QFileInfo program(folder + QLatin1Char('/') + QLatin1String(name));
        QVERIFY2(program.isFile() && program.isExecutable(), qPrintable(program.filePath()));
    }
    QVERIFY(QFileInfo(folder + QStringLiteral("/ombrevault.png")).isFile());
    QFile installed(folder + QStringLiteral("/help/help.html"));
    QVERIFY(installed.open(QIODevice::ReadOnly));
    QFile source(QStringLiteral(OV_TEST_SOURCE_DIR "/help/help.html"));
    QVERIFY(source.open(QIODevice::ReadOnly));
    QCOMPARE(installed.readAll(), source.readAll());
}

} // namespace

class InstallTest : public QObject
{
    Q_OBJECT
private slots:
    void helpPageBesideTheBuiltProgram()
    {
        // The tests run from the build tree's program folder, like the program itself.
        QVERIFY2(QFileInfo(QFile::decodeName(helpPagePath())).isFile(), helpPagePath().constData());
    }

    // Readable offline in any browser: nothing runs, nothing is fetched, every link inside
    // the page leads somewhere.
    void helpPageIsSelfContained()
    {
        QFile file(QStringLiteral(OV_TEST_SOURCE_DIR "/help/help.html"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(file.readAll());
        QVERIFY(!page.contains(QStringLiteral("<script"), Qt::CaseInsensitive));
        QVERIFY(!page.contains(QStringLiteral("@import"), Qt::CaseInsensitive));
        QVERIFY(!page.contains(QStringLiteral("url("), Qt::CaseInsensitive));
        static const QRegularExpression reference(
            QStringLiteral("(?:src|href)\\s*=\\s*\"([^\"]*)\""));
        int anchors = 0;
        for (auto it = reference.globalMatch(page); it.hasNext();) {
            const QString target = it.next().captured(1);
            QVERIFY2(target.startsWith(QLatin1Char('#')), qPrintable(target));
            QVERIFY2(page.contains(QStringLiteral("id=\"%1\"").arg(target.mid(1))),
                     qPrintable(target));
            ++anchors;
        }
        QVERIFY(anchors > 0);
    }

    void installIntoAPrefix()
    {
        TempDir dir;
        const QString prefix = QFile::decodeName(dir.file("prefix"));
        QString output;
        QVERIFY2(runCmake({QStringLiteral("--install"), QStringLiteral(OV_TEST_BUILD_DIR),
                           QStringLiteral("--prefix"), prefix, QStringLiteral("--component"),
                           QStringLiteral("ombrevault")},
                          {}, &output),
                 qPrintable(output));
        const QString folder = prefix + QStringLiteral("/opt/ombrevault");
        checkProgramFolder(folder);
        for (const char* name : {"ombrevault", "ombrevault-cli"}) {
            const QFileInfo launcher(prefix + QStringLiteral("/bin/") + QLatin1String(name));
            QVERIFY(launcher.isSymLink());
            QCOMPARE(launcher.canonicalFilePath(),
                     QFileInfo(folder + "/" + name).canonicalFilePath());
        }
        QVERIFY(QFileInfo(helpPageSeenFrom(prefix + QStringLiteral("/bin/ombrevault"))).isFile());

        QFile desktop(prefix + QStringLiteral("/share/applications/ombrevault.desktop"));
        QVERIFY(desktop.open(QIODevice::ReadOnly));
        const QByteArray entry = desktop.readAll();
        QVERIFY(entry.contains("\nExec=ombrevault %f\n"));
        QVERIFY(entry.contains("\nIcon=ombrevault\n"));
        for (int size : {16, 32, 48, 64, 128, 256}) {
            const QString icon =
                prefix + QStringLiteral("/share/icons/hicolor/%1x%1/apps/ombrevault.png").arg(size);
            QVERIFY2(QFileInfo(icon).isFile(), qPrintable(icon));
        }

        // The installed command line runs from its launcher.
        QProcess cli;
        cli.start(prefix + QStringLiteral("/bin/ombrevault-cli"), {QStringLiteral("--version")});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY(cli.readAllStandardOutput().contains(OV_VERSION_STRING));
    }

    // Only the program's own component, so that the manifest of a real installation from
    // this build folder (install_manifest.txt) is left alone.
    void stagedInstallAndUninstall()
    {
        // The default system prefix, staged under DESTDIR as packagers do.
        TempDir dir;
        const QByteArray stage = dir.file("stage");
        QString output;
        QVERIFY2(runCmake({QStringLiteral("--install"), QStringLiteral(OV_TEST_BUILD_DIR),
                           QStringLiteral("--prefix"), QStringLiteral("/usr/local"),
                           QStringLiteral("--component"), QStringLiteral("ombrevault")},
                          stage, &output),
                 qPrintable(output));
        const QString root = QFile::decodeName(stage);
        checkProgramFolder(root + QStringLiteral("/opt/ombrevault"));
        const QFileInfo launcher(root + QStringLiteral("/usr/local/bin/ombrevault"));
        QVERIFY(launcher.isSymLink());
        // It leads to the final place, not into the staging folder.
        QCOMPARE(launcher.symLinkTarget(), QStringLiteral("/opt/ombrevault/ombrevault"));
        QVERIFY(QFileInfo(root + QStringLiteral("/usr/local/share/applications/ombrevault.desktop"))
                    .isFile());

        QVERIFY2(
            runCmake(
                {QStringLiteral("-DMANIFEST=" OV_TEST_BUILD_DIR "/install_manifest_ombrevault.txt"),
                 QStringLiteral("-P"), QStringLiteral(OV_TEST_BUILD_DIR "/ov_uninstall.cmake")},
                stage, &output),
            qPrintable(output));
        QVERIFY(!QFileInfo(launcher.filePath()).exists());
        QVERIFY(!QFileInfo(launcher.filePath()).isSymLink());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/opt/ombrevault")));
        QVERIFY(!QFileInfo::exists(
            root + QStringLiteral("/usr/local/share/applications/ombrevault.desktop")));
    }
};

} // namespace ov::test

QTEST_GUILESS_MAIN(ov::test::InstallTest)
#include "InstallTest.moc"
