#include "support/TempDir.h"
#include "ui/dialogs/OpenLink.h"

#include <QtTest>

using namespace ov;
using namespace ov::test;

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

// Installs the program's own component only, so that the manifest of a real installation
// from this build folder (install_manifest.txt) is left alone.
bool install(const QString& prefix, const QByteArray& destdir, QString* output)
{
    return runCmake(
        {"--install", OV_TEST_BUILD_DIR, "--prefix", prefix, "--component", "ombrevault"}, destdir,
        output);
}

void checkProgramFolder(const QString& folder)
{
    for (const char* name : {"ombrevault", "ombrevault-cli"}) {
        const QFileInfo program(folder + '/' + name);
        QVERIFY2(program.isFile() && program.isExecutable(), qPrintable(program.filePath()));
    }
    QVERIFY(QFileInfo(folder + "/ombrevault.png").isFile());
    QFile installed(folder + "/help/help.html"), source(OV_TEST_SOURCE_DIR "/help/help.html");
    QVERIFY(installed.open(QIODevice::ReadOnly) && source.open(QIODevice::ReadOnly));
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
        QFile file(OV_TEST_SOURCE_DIR "/help/help.html");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(file.readAll());
        for (const char* outside : {"<script", "@import", "url("})
            QVERIFY2(!page.contains(QLatin1String(outside), Qt::CaseInsensitive), outside);
        static const QRegularExpression reference("(?:src|href)\\s*=\\s*\"([^\"]*)\"");
        int anchors = 0;
        for (auto it = reference.globalMatch(page); it.hasNext(); ++anchors) {
            const QString target = it.next().captured(1);
            QVERIFY2(target.startsWith('#') && page.contains("id=\"" + target.mid(1) + '"'),
                     qPrintable(target));
        }
        QVERIFY(anchors > 0);
    }

    void installIntoAPrefix()
    {
        TempDir dir;
        const QString prefix = QFile::decodeName(dir.file("prefix")),
                      folder = prefix + "/opt/ombrevault";
        QString output;
        QVERIFY2(install(prefix, {}, &output), qPrintable(output));
        checkProgramFolder(folder);
        for (const char* name : {"ombrevault", "ombrevault-cli"}) {
            const QFileInfo launcher(prefix + "/bin/" + name);
            QVERIFY(launcher.isSymLink());
            QCOMPARE(launcher.canonicalFilePath(),
                     QFileInfo(folder + '/' + name).canonicalFilePath());
        }
        // Where the program behind the launcher looks for its help page: the real folder
        // of the executable the link leads to.
        QVERIFY(QFileInfo(QFileInfo(prefix + "/bin/ombrevault").canonicalPath() + "/help/help.html")
                    .isFile());

        QFile desktop(prefix + "/share/applications/ombrevault.desktop");
        QVERIFY(desktop.open(QIODevice::ReadOnly));
        const QByteArray entry = desktop.readAll();
        QVERIFY(entry.contains("\nExec=ombrevault %f\n") && entry.contains("\nIcon=ombrevault\n"));
        for (int size : {16, 32, 48, 64, 128, 256}) {
            const QString icon = prefix + "/share/icons/hicolor/%1x%1/apps/ombrevault.png";
            QVERIFY2(QFileInfo(icon.arg(size)).isFile(), qPrintable(icon.arg(size)));
        }

        // The installed command line runs from its launcher.
        QProcess cli;
        cli.start(prefix + "/bin/ombrevault-cli", {"--version"});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY(cli.readAllStandardOutput().contains(OV_VERSION_STRING));
    }

    void stagedInstallAndUninstall()
    {
        // The default system prefix, staged under DESTDIR as packagers do.
        TempDir dir;
        const QByteArray stage = dir.file("stage");
        const QString root = QFile::decodeName(stage);
        QString output;
        QVERIFY2(install("/usr/local", stage, &output), qPrintable(output));
        checkProgramFolder(root + "/opt/ombrevault");
        const QFileInfo launcher(root + "/usr/local/bin/ombrevault");
        const QString desktop = root + "/usr/local/share/applications/ombrevault.desktop";
        // It leads to the final place, not into the staging folder.
        QCOMPARE(launcher.symLinkTarget(), QStringLiteral("/opt/ombrevault/ombrevault"));
        QVERIFY(QFileInfo(desktop).isFile());

        QVERIFY2(runCmake({"-DMANIFEST=" OV_TEST_BUILD_DIR "/install_manifest_ombrevault.txt", "-P",
                           OV_TEST_BUILD_DIR "/ov_uninstall.cmake"},
                          stage, &output),
                 qPrintable(output));
        for (const QString& gone : {launcher.filePath(), root + "/opt/ombrevault", desktop})
            QVERIFY2(!QFileInfo(gone).exists() && !QFileInfo(gone).isSymLink(), qPrintable(gone));
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "InstallTest.moc"
