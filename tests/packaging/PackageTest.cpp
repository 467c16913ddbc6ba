#include "packaging/Packaging.h"
#include "support/TempDir.h"

#include <QCryptographicHash>
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

QByteArray checksum(const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&in);
    return hash.result().toHex();
}

// Purging removes the log and the settings the program wrote outside home folders, and
// nothing beside them. Run in a mount namespace of its own, with empty /etc/xdg,
// /var/log and /opt, so that the real ones are not touched.
const char kPurgeScenario[] = R"(set -e
for dir in /etc/xdg /var/log /opt; do mount -t tmpfs ov-scratch $dir; done
setup() {
    mkdir -p /etc/xdg/ombrevault /etc/xdg/other /var/log/ombrevault /var/log/other \
             /opt/ombrevault /opt/other "$HOME/.config/ombrevault" "$HOME/.local/state/ombrevault"
    echo settings > /etc/xdg/ombrevault/HKEY_LOCAL_MACHINE.ini
    echo log > /var/log/ombrevault/log.txt
    echo log > /opt/ombrevault/log.txt
    touch /etc/xdg/other/keep /var/log/other/keep /opt/other/keep \
          "$HOME/.config/ombrevault/HKEY_LOCAL_MACHINE.ini" "$HOME/.local/state/ombrevault/log.txt"
}
report() {
    for f in /var/log/ombrevault /etc/xdg/ombrevault /opt/ombrevault/log.txt /opt/ombrevault \
             /opt/ombrevault/mine /etc/xdg/other/keep /var/log/other/keep /opt/other/keep \
             "$HOME/.config/ombrevault/HKEY_LOCAL_MACHINE.ini" "$HOME/.local/state/ombrevault/log.txt"; do
        if [ -e "$f" ]; then echo "$1 kept $f"; fi
    done
}
setup; "$POSTRM" remove; report remove
"$POSTRM" purge; report purge
setup; touch /opt/ombrevault/mine; "$POSTRM" purge; report "purge beside another file"
)";

// The source tree without build folders, as a packager unpacks it.
const char kCopySource[] =
    R"(tar -C "$1" --exclude=./.git --exclude='./build*' --exclude='./obj-*' -cf - . | tar -C "$2" -xf -)";

} // namespace

// The Debian package, built once by dpkg-buildpackage from a copy of the source tree.
class PackageTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const Run arch = run(QStringLiteral("dpkg"), {"--print-architecture"});
        QVERIFY2(arch.ok, qPrintable(arch.output));
        QVERIFY(!tool("dpkg-buildpackage", "dpkg-dev").isEmpty());
        QVERIFY(!tool("dh", "debhelper").isEmpty());
        const QString top = QFile::decodeName(m_dir.path());
        m_source = top + "/ombrevault";
        QVERIFY(QDir().mkpath(m_source));
        const Run copy = run("sh", {"-c", kCopySource, "sh", OV_TEST_SOURCE_DIR, m_source});
        QVERIFY2(copy.ok, qPrintable(copy.output));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DEB_BUILD_OPTIONS", QString("parallel=%1").arg(QThread::idealThreadCount()));
        const Run build = run("dpkg-buildpackage", {"-us", "-uc", "-b"}, env, m_source, -1);
        QVERIFY2(build.ok, qPrintable(build.output.right(4000)));
        m_deb = top + "/ombrevault_" OV_VERSION_STRING "_" + arch.output.trimmed() + ".deb";
        m_changes = top + "/ombrevault_" OV_VERSION_STRING "_" + arch.output.trimmed() + ".changes";
        QVERIFY2(QFileInfo(m_deb).isFile(), qPrintable(build.output.right(4000)));
    }

    // Exactly the installed files, owned by root, nothing in /opt, and the Dolphin action
    // as plain data.
    void files()
    {
        const QMap<QString, Entry> entries = contents(m_deb);
        QStringList files;
        for (auto it = entries.begin(); it != entries.end(); ++it) {
            QCOMPARE(it->owner, QStringLiteral("root/root"));
            QVERIFY2(!it.key().startsWith("/opt") && !it.key().startsWith("/usr/local"),
                     qPrintable(it.key()));
            if (!it->mode.startsWith('d'))
                files << it.key();
        }
        QStringList expected = installedFiles("/usr");
        expected.sort();
        QCOMPARE(files, expected);
        for (const char* name : {"ombrevault", "ombrevault-cli"})
            QCOMPARE(entries.value(QStringLiteral("/usr/bin/") + name).mode,
                     QStringLiteral("-rwxr-xr-x"));
        for (const char* data :
             {"/usr/share/kio/servicemenus/ombrevault-destroy.desktop",
              "/usr/share/applications/ombrevault.desktop", "/usr/share/ombrevault/help/help.html"})
            QCOMPARE(entries.value(data).mode, QStringLiteral("-rw-r--r--"));
    }

    void control()
    {
        const Run fields = run(QStringLiteral("dpkg-deb"), {"--field", m_deb, "Package", "Version",
                                                            "Depends", "Recommends", "Homepage"});
        QVERIFY2(fields.ok, qPrintable(fields.output));
        QVERIFY2(fields.output.contains("Package: ombrevault\n") &&
                     fields.output.contains("Version: " OV_VERSION_STRING "\n") &&
                     fields.output.contains("Homepage: https://"),
                 qPrintable(fields.output));
        // The changelog's latest entry is this version.
        QVERIFY(readFile(OV_TEST_SOURCE_DIR "/debian/changelog")
                    .startsWith("ombrevault (" OV_VERSION_STRING ") "));
        // The libraries come from the binaries themselves; the window cannot open without
        // Qt's platform plugins; the help page opens in a browser when xdg-utils is there.
        for (const char* dependency :
             {"qt6-qpa-plugins", "libqt6widgets6 (>=", "libc6 (>=", "Recommends: xdg-utils"})
            QVERIFY2(fields.output.contains(QLatin1String(dependency)), dependency);
    }

    // Stripped, without the compiler's notes, and finding their data from /usr/bin: the
    // unpacked tree is an installation like any other.
    void programs()
    {
        TempDir tree;
        const QString root = QFile::decodeName(tree.path());
        const Run unpack = run(QStringLiteral("dpkg-deb"), {"-x", m_deb, root});
        QVERIFY2(unpack.ok, qPrintable(unpack.output));
        for (const char* name : {"ombrevault", "ombrevault-cli"})
            QVERIFY2(!hasSymbols(root + "/usr/bin/" + name, true), name);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_STATE_HOME", root + "/state");
        QCOMPARE(logPlace(root + "/usr/bin/ombrevault-cli", env),
                 runningAsRoot() ? QStringLiteral("/var/log/ombrevault/log.txt")
                                 : root + "/state/ombrevault/log.txt");
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
        const QString home = env.value("HOME");
        const QStringList others{"/etc/xdg/other/keep", "/var/log/other/keep", "/opt/other/keep",
                                 home + "/.config/ombrevault/HKEY_LOCAL_MACHINE.ini",
                                 home + "/.local/state/ombrevault/log.txt"};
        const QStringList expected =
            kept("remove", QStringList{"/var/log/ombrevault", "/etc/xdg/ombrevault",
                                       "/opt/ombrevault/log.txt", "/opt/ombrevault"} +
                               others) +
            kept("purge", others) +
            kept("purge beside another file",
                 QStringList{"/opt/ombrevault", "/opt/ombrevault/mine"} + others);
        QCOMPARE(scenario.output.split('\n', Qt::SkipEmptyParts), expected);
    }

    // No errors and no warnings, with nothing overridden; the remarks of the extra levels
    // are shown in the log.
    void lintian()
    {
        const QString lintian = tool("lintian", "lintian");
        QVERIFY(!lintian.isEmpty());
        const Run check =
            run(lintian,
                {"-EvIL", "+pedantic", "--fail-on", "error,warning", "--show-overrides", m_changes},
                QProcessEnvironment::systemEnvironment(), {}, -1);
        qInfo("%s", qPrintable(check.output));
        QVERIFY2(check.ok, qPrintable(check.output));
        static const QRegularExpression serious("^[EWO]: ", QRegularExpression::MultilineOption);
        QVERIFY2(!check.output.contains(serious), qPrintable(check.output));
        QVERIFY(!contents(m_deb).contains("/usr/share/lintian/overrides/ombrevault"));
    }

    // The package assembled again from the same build has the same bytes: every time in
    // it comes from the changelog, every list in a fixed order.
    void reproducible()
    {
        const QByteArray first = checksum(m_deb);
        QVERIFY(!first.isEmpty());
        const QString moved = m_deb + ".first";
        QVERIFY(QFile::rename(m_deb, moved));
        // Later times on every file the packaging copies, so that none may leak through.
        const Run touch = run("find", {m_source + "/debian", m_source + "/help", m_source + "/data",
                                       "-type", "f", "-exec", "touch", "{}", "+"});
        QVERIFY2(touch.ok, qPrintable(touch.output));
        const Run again = run("dpkg-buildpackage", {"-us", "-uc", "-b", "-nc"},
                              QProcessEnvironment::systemEnvironment(), m_source, -1);
        QVERIFY2(again.ok, qPrintable(again.output.right(4000)));
        QCOMPARE(checksum(m_deb), first);
    }

private:
    TempDir m_dir;
    QString m_source, m_deb, m_changes;
};

QTEST_GUILESS_MAIN(PackageTest)
#include "PackageTest.moc"
