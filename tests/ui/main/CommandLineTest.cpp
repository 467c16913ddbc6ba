#include "ui/main/CommandLine.h"
#include "ui/UiWorld.h"
#include "ui/file/PendingList.h"
#include "ui/main/frmMain.h"

using namespace ov;
using namespace ov::test;
using Entries = std::vector<QByteArray>;
using Args = QList<QByteArray>;

Q_DECLARE_METATYPE(Entries)

namespace {

CommandLine parse(const Args& args)
{
    std::vector<const char*> argv{"ombrevault"};
    for (const QByteArray& arg : args)
        argv.push_back(arg.constData());
    return commandLineText(int(argv.size()), argv.data());
}

} // namespace

// What the window's command line puts on the pending list: the whole text as one entry,
// or, after the files option the file managers use, one entry per file.
class CommandLineTest : public QObject
{
    Q_OBJECT
private slots:
    void entries_data()
    {
        QTest::addColumn<Args>("args");
        QTest::addColumn<Entries>("expected");
        // Without the option: one entry, trimmed, not split.
        QTest::newRow("none") << Args{} << Entries{};
        QTest::newRow("trimmed") << Args{"  /tmp/a b  "} << Entries{"/tmp/a b"};
        QTest::newRow("two paths, one entry")
            << Args{"/tmp/a", "/tmp/b"} << Entries{"/tmp/a /tmp/b"};
        QTest::newRow("all blank") << Args{"   "} << Entries{""};
        QTest::newRow("option later")
            << Args{"/tmp/a", "--files", "/tmp/b"} << Entries{"/tmp/a --files /tmp/b"};
        QTest::newRow("option with blanks")
            << Args{" --files", "/tmp/b"} << Entries{"--files /tmp/b"};
        QTest::newRow("option-like word")
            << Args{"--files=/tmp/a", "/tmp/b"} << Entries{"--files=/tmp/a /tmp/b"};
        QTest::newRow("a file named like the option") << Args{"./--files"} << Entries{"./--files"};

        // With it: each file exactly, in order.
        QTest::newRow("files") << Args{"--files", "/tmp/a b", " /tmp/c ", "rel\"q\""}
                               << Entries{"/tmp/a b", " /tmp/c ", "rel\"q\""};
        QTest::newRow("no files") << Args{"--files"} << Entries{};
        QTest::newRow("empty arguments name nothing")
            << Args{"--files", "", "/tmp/a", ""} << Entries{"/tmp/a"};
        QTest::newRow("the option again is a file")
            << Args{"--files", "--files"} << Entries{"--files"};
        QTest::newRow("bytes kept") << Args{"--files", "/tmp/\xff\xfe"} << Entries{"/tmp/\xff\xfe"};
        QTest::newRow("file URIs") << Args{"--files", "file:///tmp/a%20b%22%5C%25",
                                           "file://localhost/c", "file:///tmp/%FF"}
                                   << Entries{"/tmp/a b\"\\%", "/c", "/tmp/\xff"};
        // Not of this machine, or not a file URI: the text stays as it is and names no
        // local file by accident.
        QTest::newRow("other URIs") << Args{"--files", "file://host/tmp/a", "sftp://h/x", "file:x"}
                                    << Entries{"file://host/tmp/a", "sftp://h/x", "file:x"};
    }
    void entries()
    {
        QFETCH(Args, args);
        QTEST(parse(args).entries, "expected");
    }

    // The window takes each entry, in order; nothing else happens before the button.
    void windowListsEachFile()
    {
        World world;
        const QByteArray a = world.dir.file("a b.txt"), c = world.dir.file("c");
        writeFile(a, "one");
        writeFile(c, "two");
        frmMain window(world.context, parse({"--files", a, "file://" + c}));
        QCOMPARE(window.pendingList()->entries(), (Entries{a, c}));
        QCOMPARE(readFile(a), QByteArray("one"));
        QCOMPARE(readFile(c), QByteArray("two"));
    }
};

QTEST_MAIN(CommandLineTest)
#include "CommandLineTest.moc"
