#include "packaging/Packaging.h"
#include "support/TempDir.h"

#include <QtTest>

using namespace ov::test;

namespace {

struct Entry
{
    QString mode, owner, target;
};

// `dpkg-deb --contents`: each path ("/usr/bin/x") with its mode, owner and link target.
QMap<QString, Entry> contents(const QString& deb)
{
    QMap<QString, Entry> entries;
    const Run list = run(QStringLiteral("dpkg-deb"), {"--contents", deb});
    for (const QString& line : list.output.split('\n', Qt::SkipEmptyParts)) {
        // "-rw-r--r-- root/root  1234 2026-12-07 12:00 ./usr/share/x [-> target]"
        const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
        if (fields.size() < 6)
            continue;
        QString path = fields[5].mid(1);
        if (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        entries[path] = {fields[0], fields[1], fields.size() > 7 ? fields[7] : QString()};
    }
    return entries;
}

// Purging removes the settings and the log the program wrote, and nothing beside them.
// Run in a mount namespace of its own, with empty /etc/xdg and /opt, so that the real
// ones are not touched.
const char kPurgeScenario[] = R"(set -e
mount -t tmpfs ov-etc /etc/xdg
mount -t tmpfs ov-opt /opt
setup() {
    mkdir -p /etc/xdg/ombrevault /etc/xdg/other /opt/ombrevault /opt/other "$HOME/.config/ombrevault"
    echo settings > /etc/xdg/ombrevault/HKEY_LOCAL_MACHINE.ini
    echo lock > /etc/xdg/ombrevault/HKEY_LOCAL_MACHINE.ini.lock
    echo log > /opt/ombrevault/log.txt
    touch /etc/xdg/other/keep /opt/other/keep "$HOME/.config/ombrevault/HKEY_LOCAL_MACHINE.ini"
}
report() {
    for f in /etc/xdg/ombrevault /opt/ombrevault/log.txt /opt/ombrevault /opt/ombrevault/mine \
             /etc/xdg/other/keep /opt/other/keep "$HOME/.config/ombrevault/HKEY_LOCAL_MACHINE.ini"; do
        if [ -e "$f" ]; then echo "$1 kept $f"; fi
    done
}
setup; "$POSTRM" remove; report remove
"$POSTRM" purge; report purge
setup; touch /opt/ombrevault/mine; "$POSTRM" purge; report "purge beside another file"
)";

} // namespace

// The Debian package, built once from this build folder.
class PackageTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const Run arch = run(QStringLiteral("dpkg"), {"--print-architecture"});
        QVERIFY2(arch.ok, qPrintable(arch.output));
        QVERIFY(!tool("dpkg-shlibdeps", "dpkg-dev").isEmpty());
        const Run cpack = run(QStringLiteral(OV_TEST_CPACK),
                              {"-G", "DEB", "-B", QFile::decodeName(m_dir.path()), "--config",
                               OV_TEST_BUILD_DIR "/CPackConfig.cmake"});
        QVERIFY2(cpack.ok, qPrintable(cpack.output));
        m_deb = QFile::decodeName(m_dir.path()) + "/ombrevault_" OV_VERSION_STRING "_" +
                arch.output.trimmed() + ".deb";
        QVERIFY2(QFileInfo(m_deb).isFile(), qPrintable(cpack.output));
    }

    // Exactly the installed files, owned by root, the launchers leading into the program
    // folder, and the service menu executable for Dolphin.
    void files()
    {
        const QMap<QString, Entry> entries = contents(m_deb);
        QStringList files;
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            QCOMPARE(it->owner, QStringLiteral("root/root"));
            if (!it->mode.startsWith('d'))
                files << it.key();
        }
        QStringList expected = installedFiles("/usr", "/opt/ombrevault");
        expected << "/usr/share/lintian/overrides/ombrevault";
        expected.sort();
        QCOMPARE(files, expected);
        for (const char* name : {"ombrevault", "ombrevault-cli"}) {
            const Entry launcher = entries.value(QStringLiteral("/usr/bin/") + name);
            QVERIFY(launcher.mode.startsWith('l'));
            QCOMPARE(launcher.target, QStringLiteral("/opt/ombrevault/") + name);
            QCOMPARE(entries.value(QStringLiteral("/opt/ombrevault/") + name).mode,
                     QStringLiteral("-rwxr-xr-x"));
        }
        QCOMPARE(entries.value("/usr/share/kio/servicemenus/ombrevault-destroy.desktop").mode,
                 QStringLiteral("-rwxr-xr-x"));
        QCOMPARE(entries.value("/usr/share/applications/ombrevault.desktop").mode,
                 QStringLiteral("-rw-r--r--"));
    }

    void control()
    {
        const Run fields =
            run(QStringLiteral("dpkg-deb"), {"--field", m_deb, "Package", "Version", "Depends"});
        QVERIFY2(fields.ok, qPrintable(fields.output));
        QVERIFY2(fields.output.contains("Package: ombrevault\n") &&
                     fields.output.contains("Version: " OV_VERSION_STRING "\n"),
                 qPrintable(fields.output));
        // The changelog's latest entry is this version.
        QVERIFY(readFile(OV_TEST_SOURCE_DIR "/data/debian/changelog")
                    .startsWith("ombrevault (" OV_VERSION_STRING ") "));
        // Help > Help needs an opener; the libraries come from the binaries themselves.
        for (const char* dependency :
             {"xdg-utils", "qt6-qpa-plugins", "libqt6widgets6 (>=", "libc6 (>="})
            QVERIFY2(fields.output.contains(QLatin1String(dependency)), dependency);
    }

    void binariesStripped()
    {
        TempDir tree;
        const QString root = QFile::decodeName(tree.path());
        const Run unpack = run(QStringLiteral("dpkg-deb"), {"-x", m_deb, root});
        QVERIFY2(unpack.ok, qPrintable(unpack.output));
        for (const char* name : {"ombrevault", "ombrevault-cli"})
            QVERIFY2(!hasSymbols(root + "/opt/ombrevault/" + name), name);
    }

    void purge()
    {
        TempDir control;
        const QString folder = QFile::decodeName(control.path());
        const Run unpack = run(QStringLiteral("dpkg-deb"), {"--control", m_deb, folder});
        QVERIFY2(unpack.ok, qPrintable(unpack.output));
        const QString postrm = folder + "/postrm";
        QVERIFY(QFileInfo(postrm).isExecutable());
        if (!runningAsRoot())
            QSKIP("needs root for a mount namespace");
        const Run probe = run("unshare", {"--mount", "mount", "-t", "tmpfs", "ov-probe", "/opt"});
        if (!probe.ok)
            QSKIP(qPrintable("no mount namespace here: " + probe.output));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("POSTRM", postrm);
        env.insert("HOME", QFile::decodeName(control.file("home")));
        const Run scenario = run("unshare", {"--mount", "sh", "-c", kPurgeScenario}, env);
        QVERIFY2(scenario.ok, qPrintable(scenario.output));

        const auto kept = [](const char* when, const QStringList& paths) {
            QStringList lines;
            for (const QString& path : paths)
                lines << QLatin1String(when) + " kept " + path;
            return lines;
        };
        const QStringList others{"/etc/xdg/other/keep", "/opt/other/keep",
                                 env.value("HOME") + "/.config/ombrevault/HKEY_LOCAL_MACHINE.ini"};
        const QStringList expected =
            kept("remove",
                 QStringList{"/etc/xdg/ombrevault", "/opt/ombrevault/log.txt", "/opt/ombrevault"} +
                     others) +
            kept("purge", others) +
            kept("purge beside another file",
                 QStringList{"/opt/ombrevault", "/opt/ombrevault/mine"} + others);
        QCOMPARE(scenario.output.split('\n', Qt::SkipEmptyParts), expected);
    }

    // No errors and no warnings; the tags the package means to carry are overridden in
    // it, each with its reason.
    void lintian()
    {
        const QString lintian = tool("lintian", "lintian");
        QVERIFY(!lintian.isEmpty());
        const Run check = run(lintian, {"--fail-on", "error,warning", m_deb});
        QVERIFY2(check.ok, qPrintable(check.output));
    }

private:
    TempDir m_dir;
    QString m_deb;
};

QTEST_GUILESS_MAIN(PackageTest)
#include "PackageTest.moc"
