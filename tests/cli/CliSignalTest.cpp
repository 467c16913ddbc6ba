// How a wipe ends when it is asked to stop, and what it draws on a terminal.
#include "cli/CliFixture.h"
#include "platform/PathText.h"

#include <QRegularExpression>

#include <sys/stat.h>

namespace ov {
namespace {

// Large enough that the high level is still busy when the signal comes.
const QByteArray kBig(48 << 20, 'B');

class CliSignal : public Cli
{
};

// Each termination signal: the write in hand is finished, the file in hand is named as
// part-overwritten, the files after it are not touched, and the program dies by that same
// signal, so that whatever started it learns so. The same command again finishes.
TEST_F(CliSignal, EndsByTheSignalNamingTheFileInHand)
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const QString big = make("big", kBig), after = make("after");
        auto child = spawn({"wipe", "-l", "high", big, after});
        ASSERT_TRUE(waitUntil(*child, [&] { return overwritingBegun(big, 'B'); })) << signal;
        child->signalGroup(signal);
        ASSERT_TRUE(child->wait());
        EXPECT_TRUE(child->killedBy(signal)) << signal << ": " << child->howItEnded().constData();
        EXPECT_EQ(child->err, "ombrevault-cli: interrupted: " + big.toUtf8() +
                                  " was left part-overwritten; running the same command again "
                                  "finishes it; 1 more file(s) not touched\n");
        EXPECT_TRUE(child->out.isEmpty());
        EXPECT_TRUE(exists(big.toUtf8()));
        EXPECT_EQ(readFile(after.toUtf8()), "confidential");
    }
    const QString big = QString::fromUtf8(dir.file("big")),
                  after = QString::fromUtf8(dir.file("after"));
    const Result again = wipe({"-l", "high", big, after});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_FALSE(exists(big.toUtf8()) || exists(after.toUtf8()));
}

// A signal ignored when the command started (nohup, a script's job in the background)
// stays ignored: the wipe runs on to its end, and the others still stop it.
TEST_F(CliSignal, ASignalIgnoredAtTheStartStaysIgnored)
{
    const QString big = make("big", kBig), after = make("after");
    test::Child::Options options;
    options.ignoredSignals = {SIGHUP};
    auto child = spawn({"wipe", "-l", "high", big, after}, options);
    ASSERT_TRUE(waitUntil(*child, [&] { return overwritingBegun(big, 'B'); }));
    child->signalGroup(SIGHUP);
    ASSERT_TRUE(child->wait());
    EXPECT_TRUE(child->exitedWith(0)) << child->howItEnded().constData() << child->err.constData();
    EXPECT_FALSE(exists(big.toUtf8()) || exists(after.toUtf8()));
}

// The reason for ending by the signal: a shell loop stops at once, as it does with shred.
TEST_F(CliSignal, CtrlCStopsAShellLoop)
{
    for (const char* name : {"b1", "b2", "b3"})
        make(name, kBig);
    QList<QByteArray> argv{"/bin/bash", "-c",
                           "for f in b1 b2 b3; do \"$0\" wipe -l high \"$f\"; done; echo went on",
                           OV_CLI_PATH};
    test::Child::Options options;
    options.folder = dir.path();
    test::Child loop(argv, options);
    ASSERT_TRUE(loop.started());
    ASSERT_TRUE(waitUntil(loop, [&] { return overwritingBegun(dir.file("b1"), 'B'); }));
    loop.signalGroup(SIGINT); // what Ctrl-C on the terminal does
    ASSERT_TRUE(loop.wait());
    EXPECT_TRUE(loop.killedBy(SIGINT)) << loop.howItEnded().constData();
    EXPECT_FALSE(loop.out.contains("went on"));
    EXPECT_EQ(readFile(dir.file("b2")), kBig);
    EXPECT_EQ(readFile(dir.file("b3")), kBig);
}

// -f gives a read-only file its owner's write permission for the wipe only: a wipe that
// does not end with the file gone gives the old mode back, alone or in a batch.
TEST_F(CliSignal, ForcedPermissionIsTakenBackWhenTheWipeStops)
{
    for (const char* level : {"high", "least"}) {
        const QString big = make(QByteArray("big-") + level, kBig);
        QFile::setPermissions(big, QFile::ReadOwner | QFile::ReadGroup);
        auto child = spawn({"wipe", "-f", "-l", level, big});
        ASSERT_TRUE(waitUntil(*child, [&] { return overwritingBegun(big, 'B'); })) << level;
        child->signalGroup(SIGTERM);
        ASSERT_TRUE(child->wait());
        EXPECT_TRUE(child->killedBy(SIGTERM)) << level << child->howItEnded().constData();
        struct stat st = {};
        ASSERT_EQ(::stat(big.toUtf8().constData(), &st), 0) << level;
        EXPECT_EQ(st.st_mode & 07777, 0440u) << level;
    }
}

// Small files at the least level go pass by pass together: a stop names every one of them
// that it left part-overwritten.
TEST_F(CliSignal, AStopInABatchNamesEveryFileLeftPartOverwritten)
{
    QStringList files;
    for (const char* name : {"f1", "f2", "f3"})
        files << make(name, QByteArray(16 << 20, 'B'));
    auto child = spawn(QStringList{"wipe", "-l", "least"} + files);
    // The last file's first pass has begun, so every file is touched. Watched without
    // opening the file: an opening by another program ends the wipe of that file.
    ASSERT_TRUE(waitUntil(*child, [&] { return overwritingBegun(files[2], 'B'); }));
    child->signalGroup(SIGINT);
    ASSERT_TRUE(child->wait());
    EXPECT_TRUE(child->killedBy(SIGINT)) << child->howItEnded().constData();
    EXPECT_EQ(child->err, "ombrevault-cli: interrupted: " + files.join(", ").toUtf8() +
                              " were left part-overwritten; running the same command again "
                              "finishes them; 0 more file(s) not touched\n");
    for (const QString& file : files)
        EXPECT_TRUE(exists(file.toUtf8()));
}

// The parts of what a terminal received between carriage returns, the line-clearing
// sequence taken out.
QList<QByteArray> frames(const QByteArray& terminal)
{
    QList<QByteArray> parts;
    for (QByteArray part : terminal.split('\r')) {
        part.replace("\033[K", "");
        if (!part.isEmpty())
            parts << part;
    }
    return parts;
}

// On a terminal, one line redrawn in place, fitted to its width: bytes done of the whole,
// rate, time left and the file in hand; then taken away again.
TEST_F(CliSignal, ProgressIsOneLineFittedToTheTerminal)
{
    // A long name with a newline and a byte that is not UTF-8, which must show quoted.
    const QByteArray name = "a-rather-long-name-for-a-file-that-holds-secrets\n\377.dat";
    for (const int columns : {40, 200}) {
        test::writeFile(dir.file(name), kBig);
        const QByteArray file = dir.file(name);
        test::Child::Options options;
        options.terminalColumns = columns;
        auto child = spawnBytes({"wipe", "--level", "high", file}, options);
        ASSERT_TRUE(child->wait());
        ASSERT_TRUE(child->exitedWith(0))
            << child->howItEnded().constData() << child->err.constData();
        EXPECT_EQ(child->out, "destroyed " + quotedPathBytes(file) + ": verified on the device\n");

        EXPECT_FALSE(child->err.contains('\n')) << "the line is redrawn, never a new one";
        EXPECT_TRUE(child->err.endsWith("\r\033[K")) << "and taken away at the end";
        const QList<QByteArray> drawn = frames(child->err);
        ASSERT_GE(drawn.size(), 3) << child->err.constData();
        for (const QByteArray& frame : drawn) {
            EXPECT_LT(QString::fromUtf8(frame).size(), columns) << frame.constData();
            EXPECT_TRUE(frame.contains("% ")) << frame.constData();
        }
        const QByteArray last = drawn.last();
        const QByteArray shown = quotedPathBytes(file);
        if (columns == 40) {
            EXPECT_TRUE(last.contains("M/48M")) << last.constData();
            EXPECT_TRUE(last.contains(" left")) << last.constData();
            EXPECT_TRUE(last.contains("...")) << last.constData();
            EXPECT_TRUE(shown.endsWith(last.mid(last.indexOf("...") + 3))) << last.constData();
        } else {
            EXPECT_TRUE(last.contains(" MiB of 48.0 MiB  ")) << last.constData();
            // The rate in whatever unit a busy machine brings it down to.
            EXPECT_TRUE(QRegularExpression(R"(  [0-9.]+ (B|KiB|MiB|GiB)/s  )")
                            .match(QString::fromUtf8(last))
                            .hasMatch())
                << last.constData();
            EXPECT_TRUE(last.startsWith("[#")) << last.constData();
            EXPECT_TRUE(last.endsWith(shown)) << last.constData();
        }
    }
    // Nothing of it where standard error is not a terminal (a log, a pipe).
    const QString file = make("plain", kBig);
    auto child = spawn({"wipe", "--level", "least", file});
    ASSERT_TRUE(child->wait());
    EXPECT_TRUE(child->exitedWith(0)) << child->err.constData();
    EXPECT_TRUE(child->err.isEmpty()) << child->err.constData();
}

} // namespace
} // namespace ov
