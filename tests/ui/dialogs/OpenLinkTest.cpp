#include "DialogFakes.h"
#include "DialogTests.h"

#include "platform/Paths.h"
#include "platform/qt/XdgOpener.h"
#include "ui/dialogs/OpenLink.h"

#include <QSignalSpy>
#include <QTest>

namespace ov::test {

namespace {

using Kind = LinkOpener::Outcome::Kind;

const QString kStars(69, QLatin1Char('*'));

// Runs the real opener class on a stand-in script; the outcome it reports.
std::optional<LinkOpener::Outcome> runOpener(const QByteArray& program, const QString& target)
{
    XdgOpener opener(QFile::decodeName(program));
    std::optional<LinkOpener::Outcome> got;
    opener.open(target, [&](LinkOpener::Outcome outcome) { got = outcome; });
    if (!QTest::qWaitFor([&] { return got.has_value(); }, 10000))
        return std::nullopt;
    return got;
}

} // namespace

class OpenLinkTest : public QObject
{
    Q_OBJECT
private slots:
    void outcomesAndTheirBoxes_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("text");
        const QString target = QStringLiteral("https://example.invalid/a b");
        QTest::newRow("opened") << int(Kind::Finished) << 0 << QString() << 0 << QString();
        QTest::newRow("not found")
            << int(Kind::Finished) << 2 << "Link Not Found" << int(Dialogs::Icon::Exclamation)
            << "The Path:\n'https://example.invalid/a b'\nWas Not Found.";
        const QString noAssociation =
            kStars +
            "\n!     No Association Found for HTTP Addresses.                !\n"
            "!     A Web Browser should be Installed or reinstalled         !\n" +
            kStars;
        QTest::newRow("no tool") << int(Kind::Finished) << 3 << "No Association In Registry"
                                 << int(Dialogs::Icon::Exclamation) << noAssociation;
        QTest::newRow("no opener") << int(Kind::NotStarted) << 0 << "No Association In Registry"
                                   << int(Dialogs::Icon::Exclamation) << noAssociation;
        const QString error =
            QStringLiteral("An error occurred attempting to open your browser to path...\n"
                           "'https://example.invalid/a b'\nERROR Return code: ( %1 )");
        QTest::newRow("action failed")
            << int(Kind::Finished) << 4 << "ERROR" << int(Dialogs::Icon::Stop) << error.arg(4);
        QTest::newRow("syntax") << int(Kind::Finished) << 1 << "ERROR" << int(Dialogs::Icon::Stop)
                                << error.arg(1);
        QTest::newRow("crashed") << int(Kind::Crashed) << -1 << "ERROR" << int(Dialogs::Icon::Stop)
                                 << error.arg(-1);
    }
    void outcomesAndTheirBoxes()
    {
        QFETCH(int, kind);
        QFETCH(int, status);
        DialogWorld world;
        OpenLink(QStringLiteral("https://example.invalid/a b"), world.context, nullptr);
        QCOMPARE(world.opener.targets, QStringList{QStringLiteral("https://example.invalid/a b")});
        // Nothing is shown before the opener has answered.
        QVERIFY(world.dialogs.messages.empty());
        world.opener.answer({Kind(kind), status});
        QFETCH(QString, title);
        if (title.isEmpty()) {
            QVERIFY(world.dialogs.messages.empty());
            return;
        }
        QCOMPARE(world.dialogs.messages.size(), size_t(1));
        const auto& box = world.dialogs.messages.front();
        QCOMPARE(box.title, title);
        QTEST(int(box.icon), "icon");
        QTEST(box.text, "text");
    }

    void associationBoxLinesHaveTheirWidths()
    {
        const QStringList lines = noAssociationText().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], kStars);
        QCOMPARE(lines[1].size(), 63);
        QCOMPARE(lines[2].size(), 64);
        QCOMPARE(lines[3], kStars);
        QVERIFY(!noAssociationText().contains(QLatin1Char('\r')));
    }

    void missingLocalFileIsReportedWithoutTheOpener()
    {
        DialogWorld world;
        const QString missing = QFile::decodeName(world.dir.file("help")) + "/help.html";
        OpenLink(missing, world.context, nullptr);
        QVERIFY(world.opener.targets.isEmpty());
        QCOMPARE(world.dialogs.messages.size(), size_t(1));
        QCOMPARE(world.dialogs.messages[0].text,
                 QStringLiteral("The Path:\n'") + missing + QStringLiteral("'\nWas Not Found."));

        OpenLink(QStringLiteral("file://") + missing, world.context, nullptr);
        QVERIFY(world.opener.targets.isEmpty());
        QCOMPARE(world.dialogs.messages.size(), size_t(2));

        // A folder or a file that is there goes to the opener.
        writeFile(world.dir.file("page.html"), "<p>");
        OpenLink(QFile::decodeName(world.dir.file("page.html")), world.context, nullptr);
        OpenLink(QFile::decodeName(world.dir.path()), world.context, nullptr);
        QCOMPARE(world.opener.targets.size(), 2);
    }

    void answerAfterTheWindowHasGone()
    {
        DialogWorld world;
        auto* window = new QWidget;
        OpenLink(QStringLiteral("mailto:x@example.invalid"), world.context, window);
        delete window;
        world.opener.answer({Kind::Finished, 2});
        QCOMPARE(world.dialogs.messages.size(), size_t(1));
    }

    void realOpenerMissingFromPath()
    {
        DialogWorld world;
        world.context.opener = nullptr; // the desktop's own opener
        const QByteArray savedPath = qgetenv("PATH");
        qputenv("PATH", world.dir.path()); // a folder without xdg-open
        OpenLink(QStringLiteral("https://www.tallowbrookworks.example/"), world.context, nullptr);
        qputenv("PATH", savedPath);
        QTRY_COMPARE(world.dialogs.messages.size(), size_t(1));
        QCOMPARE(world.dialogs.messages[0].title, QStringLiteral("No Association In Registry"));
    }

    void realOpenerReportsExitStatusAndCrash()
    {
        TempDir dir;
        const QByteArray script = dir.file("opener");
        const QByteArray seen = dir.file("seen");
        writeFile(script,
                  "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + seen +
                      "'\ncase \"$1\" in crash) kill -9 $$;; [0-9]) exit \"$1\";; esac\nexit 0\n");
        QVERIFY(QFile::setPermissions(QFile::decodeName(script),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (int status : {0, 2, 3, 4}) {
            auto got = runOpener(script, QString::number(status));
            QVERIFY(got);
            QCOMPARE(int(got->kind), int(Kind::Finished));
            QCOMPARE(got->exitStatus, status);
        }
        auto crashed = runOpener(script, QStringLiteral("crash"));
        QVERIFY(crashed);
        QCOMPARE(int(crashed->kind), int(Kind::Crashed));
        // The target travels as one argument, blanks and all.
        QVERIFY(runOpener(script, QStringLiteral("0 and more")));
        QCOMPARE(readFile(seen), QByteArray("1|0 and more"));
        auto missing = runOpener(dir.file("no-such-opener"), QStringLiteral("x"));
        QVERIFY(missing);
        QCOMPARE(int(missing->kind), int(Kind::NotStarted));
    }

    void helpPageIsBesideTheProgram()
    {
        QCOMPARE(helpPagePath(), programFolder() + "/help/help.html");
    }
};

std::unique_ptr<QObject> makeOpenLinkTest()
{
    return std::make_unique<OpenLinkTest>();
}

} // namespace ov::test

#include "OpenLinkTest.moc"
