#include "settings/OperationLog.h"
#include "platform/Error.h"
#include "support/TempDir.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace ov {
namespace {

using test::readFile;
using test::writeFile;

TEST(OperationLog, LineFormat)
{
    const QDate date(2001, 1, 31);
    const QTime time(15, 4, 5);
    const QByteArray line =
        OperationLog::formatLine("/data/old.doc Deleted via ratio 2", date, time);
    const QByteArray expected = "[" + OperationLog::dateText(date).toUtf8() + " - " +
                                OperationLog::timeText(time).toUtf8() +
                                "] : /data/old.doc Deleted via ratio 2\r\n";
    EXPECT_EQ(line, expected);
    // The time carries seconds and no zone.
    EXPECT_TRUE(OperationLog::timeText(time).contains(QStringLiteral("05")));
    EXPECT_FALSE(OperationLog::timeText(time).contains(QStringLiteral("UTC")));
    EXPECT_EQ(OperationLog::dateText(date), QLocale::system().toString(date, QLocale::ShortFormat));
}

TEST(OperationLog, ControlCharactersCannotForgeLines)
{
    const QByteArray line = OperationLog::formatLine(
        "/tmp/evil\r\n[1/1/2001 - 1:00:00] : /etc/passwd Deleted via ratio 3\x1b\x7f",
        QDate(2001, 1, 1), QTime(1, 0));
    EXPECT_EQ(line.count('\n'), 1);
    EXPECT_EQ(line.count('\r'), 1);
    EXPECT_TRUE(line.endsWith("/etc/passwd Deleted via ratio 3??\r\n")) << line.constData();
    EXPECT_TRUE(line.contains("/tmp/evil??[1/1/2001"));
}

TEST(OperationLog, AppendsWholeLinesInOrder)
{
    test::TempDir dir;
    OperationLog log(dir.file("log.txt"));
    writeFile(log.path(), "an older line\r\n");
    log.AppendLog("first");
    log.AppendLog("second");
    const QList<QByteArray> lines = readFile(log.path()).split('\n');
    ASSERT_EQ(lines.size(), 4); // the last piece after the final LF is empty
    EXPECT_EQ(lines[0], "an older line\r");
    EXPECT_TRUE(lines[1].startsWith('[') && lines[1].endsWith("] : first\r"));
    EXPECT_TRUE(lines[2].endsWith("] : second\r"));
    EXPECT_TRUE(lines[3].isEmpty());
}

TEST(OperationLog, CreatesTheFileAndItsFolderAfterADeletion)
{
    test::TempDir dir;
    OperationLog log(dir.file("sub/folder/log.txt"));
    log.AppendLog("one");
    ASSERT_TRUE(test::exists(log.path()));
    ::unlink(log.path().constData());
    log.AppendLog("two");
    EXPECT_TRUE(readFile(log.path()).endsWith("] : two\r\n"));
    EXPECT_EQ(readFile(log.path()).count('\n'), 1);
}

TEST(OperationLog, AnUnwritableLogIsAnError)
{
    test::TempDir dir;
    writeFile(dir.file("blocker"), "a file, not a folder");
    OperationLog log(dir.file("blocker") + "/log.txt");
    try {
        log.AppendLog("x");
        ADD_FAILURE() << "the line could not have been written";
    } catch (const Error& error) {
        EXPECT_EQ(error.code(), ENOTDIR);
        EXPECT_EQ(error.path(), log.path());
    }
}

TEST(OperationLog, ALinkInPlaceOfTheLogIsNotFollowed)
{
    test::TempDir dir;
    writeFile(dir.file("elsewhere"), "untouched");
    ASSERT_EQ(::symlink(dir.file("elsewhere").constData(), dir.file("log.txt").constData()), 0);
    OperationLog log(dir.file("log.txt"));
    EXPECT_THROW(log.AppendLog("x"), Error);
    EXPECT_EQ(readFile(dir.file("elsewhere")), "untouched");
}

} // namespace
} // namespace ov
