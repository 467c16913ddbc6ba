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

void checkFiles(const QString& root, const QString& prefix)
{
    for (const QString& file : installedFiles(prefix))
        QVERIFY2(QFileInfo(root + file).isFile(), qPrintable(root + file));
    for (const char* name : {"ombrevault", "ombrevault-cli"})
        QVERIFY(QFileInfo(root + prefix + "/bin/" + name).isExecutable());
    QFile installed(root + prefix + "/share/ombrevault/help/help.html"),
        source(OV_TEST_SOURCE_DIR "/help/help.html");
    QVERIFY(installed.open(QIODevice::ReadOnly) && source.open(QIODevice::ReadOnly));
    QCOMPARE(installed.readAll(), source.readAll());
    // Owned by whoever installed it, so Dolphin wants the bit.
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

    // Everything in place below a scratch prefix, stripped, and the programs finding
    // their data there.
    void installIntoAPrefix()
    {
        TempDir dir;
        const QString prefix = QFile::decodeName(dir.file("prefix"));
        QString output;
        QVERIFY2(install(prefix, {}, &output, {"--strip"}), qPrintable(output));
        checkFiles({}, prefix);
        QVERIFY(!QFileInfo::exists(prefix + "/opt"));
        for (const char* name : {"ombrevault", "ombrevault-cli"}) {
            QVERIFY(hasSymbols(QStringLiteral(OV_TEST_BUILD_DIR "/bin/") + name));
            QVERIFY2(!hasSymbols(prefix + "/bin/" + name), name);
        }
        // The manual pages as written, compressed.
        for (const char* page : {"ombrevault.1", "ombrevault-cli.1"}) {
            const Run text =
                run(QStringLiteral("gzip"), {"-dc", prefix + "/share/man/man1/" + page + ".gz"});
            QVERIFY2(text.ok, qPrintable(text.output));
            QCOMPARE(text.output.toUtf8(),
                     readFile(QByteArray(OV_TEST_SOURCE_DIR "/data/man/") + page));
        }

        const QString cli = prefix + "/bin/ombrevault-cli";
        const Run version = run(cli, {"--version"});
        QVERIFY2(version.ok, qPrintable(version.output));
        QVERIFY(version.output.contains(OV_VERSION_STRING));

        // An installed program writes nothing beside itself: its log goes where the system
        // keeps variable data, for root, and to the user's state folder otherwise, even
        // where bin/ may be written. Run from a folder of its own, it keeps the log there.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", QFile::decodeName(dir.file("state")));
        env.insert("XDG_DATA_HOME", QFile::decodeName(dir.file("data")));
        const QString state = QFile::decodeName(dir.file("state/ombrevault/log.txt"));
        QCOMPARE(logPlace(cli, env),
                 runningAsRoot() ? QStringLiteral("/var/log/ombrevault/log.txt") : state);
        QVERIFY(QFile::copy(cli, prefix + "/cli-alone"));
        QCOMPARE(logPlace(prefix + "/cli-alone", env), prefix + "/log.txt");
        QVERIFY(QFile::copy(cli, prefix + "/share/cli-beside-its-data"));
        QVERIFY(QDir().mkpath(prefix + "/share/help"));
        QVERIFY(
            QFile::copy(OV_TEST_SOURCE_DIR "/help/help.html", prefix + "/share/help/help.html"));
        QCOMPARE(logPlace(prefix + "/share/cli-beside-its-data", env), prefix + "/share/log.txt");
        if (!runningAsRoot()) {
            // A log kept by an earlier version stays in use until a newer one exists.
            QVERIFY(QDir().mkpath(QFile::decodeName(dir.file("data/ombrevault"))));
            QFile earlier(QFile::decodeName(dir.file("data/ombrevault/log.txt")));
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.close();
            QCOMPARE(logPlace(cli, env), earlier.fileName());
            QVERIFY(QDir().mkpath(QFile::decodeName(dir.file("state/ombrevault"))));
            QFile newer(state);
            QVERIFY(newer.open(QIODevice::WriteOnly));
            newer.close();
            QCOMPARE(logPlace(cli, env), state);
        }
    }

    // The default system prefix, staged under DESTDIR as packagers do, beside a folder
    // that was there before. Uninstalling removes the files and the folders the
    // installation made, and leaves the one it found.
    void stagedInstallAndUninstall()
    {
        TempDir dir;
        const QByteArray stage = dir.file("stage");
        const QString root = QFile::decodeName(stage);
        const QString before = root + "/usr/local/share/applications";
        QVERIFY(QDir().mkpath(before));
        QFile other(before + "/other.desktop");
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();
        QString output;
        QVERIFY2(install("/usr/local", stage, &output), qPrintable(output));
        checkFiles(root, "/usr/local");
        // A second installation over the first forgets none of the folders.
        QVERIFY2(install("/usr/local", stage, &output), qPrintable(output));

        QVERIFY2(runCmake({"-DMANIFEST=" OV_TEST_BUILD_DIR "/install_manifest_ombrevault.txt",
                           "-DFOLDERS=" OV_TEST_BUILD_DIR "/install_folders.txt", "-P",
                           OV_TEST_BUILD_DIR "/ov_uninstall.cmake"},
                          stage, &output),
                 qPrintable(output));
        const Run left = run("find", {root, "-mindepth", "1"});
        QVERIFY2(left.ok, qPrintable(left.output));
        QStringList expected{root + "/usr", root + "/usr/local", root + "/usr/local/share", before,
                             other.fileName()};
        QStringList found = left.output.split('\n', Qt::SkipEmptyParts);
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
    }
};

QTEST_GUILESS_MAIN(InstallTest)
#include "InstallTest.moc"
