#include "platform/PathText.h"
#include "support/LoopMount.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

namespace ov {
namespace {

// Names a message or a listing could be forged or misread with.
const QByteArray kNames[] = {
    "plain",
    "a b",
    "it's",
    "say\"hi\"",
    "a\nb",
    "\nlead",
    "tab\there",
    "esc\x1b[31mred",
    "bad\xff"
    "byte",
    "caf\xc3\xa9",
    "~home",
    "mid~x",
    "#hash",
    "a#b",
    "{",
    "{x",
    "$var",
    "x=y",
    "semi;colon",
    "back\\slash",
    "bang!",
    "\x7f",
    "'",
    "lone\xc3",
    "ctl\x01",
    "a]b",
    "a?b",
    "-dash",
    "a:b,c",
    "trail\n",
    "\xe2\x80\x8b",
    "\xc2\x85"
    "c1",
    "two\n\tcontrols",
};

QByteArray run(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(20000);
    return process.readAllStandardOutput();
}

// What is shown must give back the exact bytes when a shell reads it, so that a person who
// copies a name from a message reaches the real file and no other.
TEST(PathText, AShellReadsBackTheExactBytes)
{
    for (const QByteArray& name : kNames) {
        const QByteArray quoted = quotedPathBytes(name);
        EXPECT_FALSE(quoted.contains('\n')) << quoted.constData();
        EXPECT_TRUE(QString::fromUtf8(quoted).toUtf8() == quoted) << "not plain UTF-8";
        const QByteArray back =
            run(QStringLiteral("bash"),
                {QStringLiteral("-c"), QStringLiteral("printf %s ") + QString::fromUtf8(quoted)});
        EXPECT_EQ(back, name) << quoted.constData();
    }
    EXPECT_EQ(quotedPathBytes(""), "''");
    EXPECT_EQ(quotedPath("/tmp/a b"), QStringLiteral("'/tmp/a b'"));
}

// The same quoting as `ls`, so that a name reads the same here as in a listing; only a
// name that mixes a single quote with escapes is written more simply here.
TEST(PathText, QuotesAsLsDoes)
{
    test::TempDir dir;
    std::vector<QByteArray> names;
    for (const QByteArray& name : kNames) {
        if (name.contains('\'') && quotedPathBytes(name).contains('$'))
            continue;
        test::writeFile(dir.file(name), "x");
        names.push_back(name);
    }
    QList<QByteArray> listed =
        run(QStringLiteral("ls"),
            {QStringLiteral("-1"), QStringLiteral("-U"),
             QStringLiteral("--quoting-style=shell-escape"), QString::fromUtf8(dir.path())})
            .split('\n');
    listed.removeAll(QByteArray());
    ASSERT_EQ(size_t(listed.size()), names.size());
    QList<QByteArray> ours;
    for (const QByteArray& name : names)
        ours.push_back(quotedPathBytes(name));
    std::sort(listed.begin(), listed.end());
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, listed);
}

// A file URI gives back the exact bytes of the name it was made from, whether a file
// manager escaped it (Qt, for valid UTF-8) or any byte was escaped; nothing else
// names a local file, least of all a URI whose name "#" or "?" would cut short.
TEST(PathText, FileUriNamesExactlyTheLocalFileItWasMadeFrom)
{
    for (const QByteArray& name : kNames) {
        const QByteArray path = "/tmp/" + name;
        EXPECT_EQ(localPathOfFileUri("file://" + path.toPercentEncoding("/")), path);
        EXPECT_EQ(localPathOfFileUri("FILE://LocalHost" + path.toPercentEncoding("/")), path);
        const QString text = QString::fromUtf8(path);
        if (text.toUtf8() == path) {
            EXPECT_EQ(localPathOfFileUri(QUrl::fromLocalFile(text).toEncoded()), path);
        }
    }
    for (const char* other : {"file://host/tmp/a", "file:/tmp/a", "file:tmp", "file://", "/tmp/a",
                              "sftp:///tmp/a", "file:///tmp/a#b", "file:///tmp/a?b"})
        EXPECT_EQ(localPathOfFileUri(other), std::nullopt) << other;
}

} // namespace
} // namespace ov
