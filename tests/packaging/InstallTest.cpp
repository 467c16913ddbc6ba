#include "packaging/Packaging.h"
#include "support/TempDir.h"
#include "ui/dialogs/OpenLink.h"

#include <QtTest>

using namespace ov;
using namespace ov::test;

namespace {

// cmake with arguments (and DESTDIR when given); its output on failure.
bool runCmake(const QStringList& args, const QByteArray& destdir, QString* output)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!destdir.isEmpty())
        env.insert(QStringLiteral("DESTDIR"), QFile::decodeName(destdir));
    const Run cmake = run(QStringLiteral(OV_TEST_CMAKE), args, env);
    *output = cmake.output;
    return cmake.ok;
}

// Installs the program's own component only, so that the manifest of a real installation
// from this build folder (install_manifest.txt) is left alone.
bool install(const QString& prefix, const QByteArray& destdir, QString* output,
             const QStringList& more = {})
{
    return runCmake(QStringList{"--install", OV_TEST_BUILD_DIR, "--prefix", prefix, "--component",
                                "ombrevault"} +
                        more,
                    destdir, output);
}

void checkFiles(const QString& root, const QString& prefix, const QString& program)
{
    for (const QString& file : installedFiles(prefix, program)) {
        const QFileInfo info(root + file); // a staged launcher leads outside the stage
        QVERIFY2(info.isFile() || info.isSymLink(), qPrintable(root + file));
    }
    for (const char* name : {"ombrevault", "ombrevault-cli"}) {
        const QFileInfo launcher(root + prefix + "/bin/" + name);
        QVERIFY(launcher.isSymLink());
        // It leads to the final place, not into a staging folder.
        QCOMPARE(launcher.symLinkTarget(), program + '/' + name);
        QVERIFY(QFileInfo(root + program + '/' + name).isExecutable());
    }
    QFile installed(root + program + "/help/help.html"),
        source(OV_TEST_SOURCE_DIR "/help/help.html");
    QVERIFY(installed.open(QIODevice::ReadOnly) && source.open(QIODevice::ReadOnly));
    QCOMPARE(installed.readAll(), source.readAll());
    QVERIFY(QFileInfo(root + prefix + "/share/kio/servicemenus/ombrevault-destroy.desktop")
                .isExecutable());
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

    // Everything in place below a scratch prefix, stripped, and the launchers working.
    void installIntoAPrefix()
    {
        TempDir dir;
        const QString prefix = QFile::decodeName(dir.file("prefix")),
                      folder = prefix + "/opt/ombrevault";
        QString output;
        QVERIFY2(install(prefix, {}, &output, {"--strip"}), qPrintable(output));
        checkFiles({}, prefix, folder);
        // Where the program behind the launcher looks for its help page: the real folder
        // of the executable the link leads to.
        QVERIFY(QFileInfo(QFileInfo(prefix + "/bin/ombrevault").canonicalPath() + "/help/help.html")
                    .isFile());
        for (const char* name : {"ombrevault", "ombrevault-cli"}) {
            QVERIFY(hasSymbols(QStringLiteral(OV_TEST_BUILD_DIR "/bin/") + name));
            QVERIFY2(!hasSymbols(folder + '/' + name), name);
        }
        // The manual pages as written, compressed.
        for (const char* page : {"ombrevault.1", "ombrevault-cli.1"}) {
            const Run text =
                run(QStringLiteral("gzip"), {"-dc", prefix + "/share/man/man1/" + page + ".gz"});
            QVERIFY2(text.ok, qPrintable(text.output));
            QCOMPARE(text.output.toUtf8(),
                     readFile(QByteArray(OV_TEST_SOURCE_DIR "/data/man/") + page));
        }

        // The installed command line runs from its launcher.
        const Run cli = run(prefix + "/bin/ombrevault-cli", {"--version"});
        QVERIFY2(cli.ok, qPrintable(cli.output));
        QVERIFY(cli.output.contains(OV_VERSION_STRING));
    }

    void stagedInstallAndUninstall()
    {
        // The default system prefix, staged under DESTDIR as packagers do.
        TempDir dir;
        const QByteArray stage = dir.file("stage");
        const QString root = QFile::decodeName(stage);
        QString output;
        QVERIFY2(install("/usr/local", stage, &output), qPrintable(output));
        checkFiles(root, "/usr/local", "/opt/ombrevault");

        QVERIFY2(runCmake({"-DMANIFEST=" OV_TEST_BUILD_DIR "/install_manifest_ombrevault.txt", "-P",
                           OV_TEST_BUILD_DIR "/ov_uninstall.cmake"},
                          stage, &output),
                 qPrintable(output));
        QStringList left = installedFiles("/usr/local", "/opt/ombrevault");
        left << "/opt/ombrevault"
             << "/usr/local/share/doc/ombrevault";
        for (const QString& gone : left)
            QVERIFY2(!QFileInfo(root + gone).exists() && !QFileInfo(root + gone).isSymLink(),
                     qPrintable(gone));
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "InstallTest.moc"
