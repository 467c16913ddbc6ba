// ombrevault-cli run as a user would run it, with a settings store of the test's own.
#include "cli/CliFixture.h"
#include "support/LoopMount.h"
#include "support/Tmpfs.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <map>

#include <pwd.h>
#include <sys/stat.h>

namespace ov {
namespace {

TEST_F(Cli, UsageErrorsExitWithTwoAndTouchNothing)
{
    const QString file = make("x");
    const QStringList usage[] = {
        {"drive-info", "/", "/tmp"},    {"clean-free-space"},      {"wipe"},
        {"wipe", "--level", "4", file}, {"wipe", "--bogus", file}, {"wipe", "--level"}};
    for (const QStringList& args : usage)
        EXPECT_EQ(run(args).exitCode, 2) << args.join(' ').toStdString();
    // A stored level of no known kind is not guessed, not even a level's name: stored
    // levels are digits, and any other text would destroy nothing.
    for (const char* stored : {"4", "least", "medium", "high"}) {
        storeSettings(QByteArray("Tallowbrookworks\\Ombrevault4\\Strenth=") + stored + "\n");
        Result result = wipe({file});
        EXPECT_EQ(result.exitCode, 2) << stored;
        EXPECT_FALSE(result.out.contains("destroyed")) << stored;
    }
    EXPECT_EQ(readFile(file.toUtf8()), "confidential");
}

TEST_F(Cli, DriveInfoAndCleanFreeSpace)
{
    EXPECT_EQ(run({"drive-info", "/"}).exitCode, 0);
    Result info = run({"drive-info", "/no/such/place"});
    EXPECT_EQ(info.exitCode, 1);
    EXPECT_TRUE(info.out.contains("Drive Type:            No Root Directory\n"));
    EXPECT_TRUE(info.out.contains("[Drive Not Mapped]")) << info.out.toStdString();
    Result clean = run({"clean-free-space", "/no/such/place"});
    EXPECT_EQ(clean.exitCode, 1);
    EXPECT_TRUE(clean.err.contains("/no/such/place")) << clean.err.toStdString();

    test::Tmpfs tmpfs(1 << 20);
    if (!tmpfs.mounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString point = QFile::decodeName(tmpfs.mountPoint());
    QDir().mkpath(tmpfs.file("sub"));
    Result ram = run({"drive-info", tmpfs.file("sub")});
    EXPECT_EQ(ram.exitCode, 0);
    EXPECT_EQ(ram.out, "Drive:                 " + point +
                           "\n"
                           "Volume Serial Number:  \n"
                           "Total Space:           1.00 MB (1,048,576 bytes)\n"
                           "Total Free Space:      1.00 MB (1,048,576 bytes)\n"
                           "Available Free Space:  1.00 MB (1,048,576 bytes)\n"
                           "Drive Type:            RAM Disk\n"
                           "File System Name:      tmpfs\n"
                           "Volume Compressed:     False\n"
                           "Overwrites In Place:   No: tmpfs keeps files in memory only\n");

    Result result = run({"clean-free-space", point});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    // Memory keeps nothing once it is used again: not filled, and said why.
    EXPECT_TRUE(result.out.contains("Not filled: " + point + " lives in memory"))
        << result.out.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << "no progress bar off a terminal";
    EXPECT_FALSE(QFile::exists(tmpfs.file("ovtempx.dat")));
}

TEST_F(Cli, WipeDestroysEveryFileOnceAtEveryLevelNameAndLogsIt)
{
    const QByteArray log = QFile::encodeName(QFileInfo(OV_CLI_PATH).absolutePath()) + "/log.txt";
    const std::pair<const char*, const char*> levels[] = {
        {"1", "1"}, {"2", "2"}, {"3", "3"}, {"least", "1"}, {"medium", "2"}, {"high", "3"}};
    for (auto [level, digit] : levels) {
        const QString a = make(QByteArray("a-") + level), b = make("b");
        Result result = wipe({"--log", "--level", level, a, b, a});
        EXPECT_EQ(result.exitCode, 0) << level << result.err.toStdString();
        EXPECT_FALSE(exists(a.toUtf8()) || exists(b.toUtf8())) << level;
        EXPECT_EQ(result.out.count("destroyed " + a), 1) << level;
        EXPECT_EQ(readFile(log).count(a.toUtf8() + " Deleted via ratio " + digit + "\r\n"), 1)
            << level;
    }
}

TEST_F(Cli, WipeTakesNamesRelativeToTheCurrentFolderAlsoWhenScrambling)
{
    // A bare name has no folder of its own to be renamed in: it is the current folder's.
    for (const char* level : {"least", "high"}) {
        make("plain");
        Result result = wipe({"--scramble", "--level", level, "plain"});
        EXPECT_EQ(result.exitCode, 0) << level << result.err.toStdString();
        EXPECT_FALSE(exists(dir.file("plain")) || exists(dir.file("ovlxx.ovl"))) << level;
        EXPECT_EQ(result.out, "destroyed " + QString::fromUtf8(dir.file("plain")) +
                                  ": verified on the device\n");
    }
}

TEST_F(Cli, WipeGoesOnAfterFailuresSaysSoAndTakesItsDefaultsFromTheStore)
{
    const QString missing = QString::fromUtf8(dir.file("missing"));
    const QString folder = QString::fromUtf8(dir.path());
    const QString kept = make("kept");
    Result result = wipe({"--level=least", missing, folder, kept});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(exists(kept.toUtf8()));
    const QStringList lines = result.err.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << result.err.toStdString();
    EXPECT_TRUE(lines[0].contains(missing) && lines[0].contains("No such file"));
    EXPECT_TRUE(lines[1].contains(folder) && lines[1].contains("folder"));

    // A blank argument names no file, so none may be reported destroyed (medium skips it).
    result = wipe({"--level=medium", QString(), " "});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(result.out.contains("destroyed"));
    EXPECT_EQ(result.err.count("No file name given"), 2) << result.err.toStdString();

    // Scrambling from the store: an existing "ovlxx.ovl" fails the least level, and survives.
    storeSettings("Tallowbrookworks\\Ombrevault4\\Strenth=1\n"
                  "Tallowbrookworks\\Ombrevault4\\Scramble=1\n");
    const QString own = make("ovlxx.ovl", "mine");
    const QString target = make("target");
    result = wipe({target});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(readFile(own.toUtf8()), "mine");
    EXPECT_TRUE(result.err.contains(own + ": Is in the way")) << result.err.toStdString();
    EXPECT_EQ(readFile(target.toUtf8()), "confidential") << "nothing is written first";
    // --no-scramble overrides it.
    result = wipe({"--no-scramble", target});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_FALSE(exists(target.toUtf8()));
}

// A name is printed so that it names the real file and cannot forge a line or a
// terminal's colours: quoted as `ls` quotes it.
TEST_F(Cli, NamesArePrintedUnambiguously)
{
    QProcess shell;
    shell.setProcessEnvironment(env);
    shell.setWorkingDirectory(QString::fromUtf8(dir.path()));
    // Through a shell, so that names that are not UTF-8 keep their bytes.
    const QString script = QStringLiteral(
        "n1=$(printf 'two\\nlines'); n2=$(printf 'bad\\377byte'); n3=$(printf 'esc\\033[31mred');"
        "for n in \"$n1\" \"$n2\" \"$n3\" 'a b'; do printf x > \"$n\"; done;"
        "ln 'a b' 'c d';"
        "\"$0\" wipe --level 1 \"$n1\" \"$n2\" \"$n3\" 'a b' \"gone$n1\"");
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), script, QStringLiteral(OV_CLI_PATH)});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.exitCode(), 1) << "one name was missing";
    const QByteArray out = shell.readAllStandardOutput();
    const QByteArray err = shell.readAllStandardError();
    const QByteArray at = dir.path() + "/";
    const QByteArray verdict = ": verified on the device\n";
    EXPECT_EQ(out, "destroyed '" + at + "two'$'\\n''lines'" + verdict + "destroyed '" + at +
                       "bad'$'\\377''byte'" + verdict + "destroyed '" + at +
                       "esc'$'\\033''[31mred'" + verdict + "destroyed '" + at + "a b'" + verdict +
                       "'" + at + "a b': 1 other name still points at the overwritten contents\n");
    EXPECT_EQ(err, "ombrevault-cli: '" + at + "gonetwo'$'\\n''lines': No such file or directory\n");
    EXPECT_EQ(readFile(dir.file("c d")), QByteArray(1, '\0'));
}

// Every word of a command line is either an option or a path, wherever it stands; what
// is not a known option is refused before anything is touched, even when a file of that
// name is there. -n shows what the words were taken for.
TEST_F(Cli, OptionsAnywhereAndDoubleDashEndsThem)
{
    for (const char* name : {"a", "b", "-v", "--level", "-z", "--bogus", "-", "-l"})
        make(name);
    const QString at = QString::fromUtf8(dir.path()) + "/";
    const auto would = [&](const QStringList& names) {
        QString lines;
        for (const QString& name : names)
            lines += "would destroy " + at + name + "\n";
        return lines;
    };
    struct Row
    {
        QStringList args;
        QStringList paths;     // what must be taken as paths, in order
        const char* levelSaid; // what -v must say of the level
    };
    const Row rows[] = {
        {{"-n", "-v", "a", "b"}, {"a", "b"}, "medium level"},
        {{"a", "-n", "b", "-v"}, {"a", "b"}, "medium level"},
        {{"a", "-vnl1", "b"}, {"a", "b"}, "least level"},
        {{"-nv", "a", "--level", "high", "b"}, {"a", "b"}, "high level"},
        {{"a", "--level=3", "-nv", "--", "-v", "--level", "-z"},
         {"a", "-v", "--level", "-z"},
         "high level"},
        {{"--dry-run", "-l", "least", "--verbose", "--", "--", "-"}, {"--", "-"}, "least level"},
        {{"-", "--dry", "--verb", "--lev", "2"}, {"-"}, "medium level"},
        {{"-n", "-v", "./-l", "b", "-l3"}, {"-l", "b"}, "high level"},
    };
    make("--");
    for (const Row& row : rows) {
        const Result result = wipe(row.args);
        const std::string where = row.args.join(' ').toStdString();
        EXPECT_EQ(result.exitCode, 0) << where << result.err.toStdString();
        EXPECT_EQ(result.out, would(row.paths)) << where;
        EXPECT_TRUE(result.err.contains(row.levelSaid)) << where << result.err.toStdString();
    }

    // Refused with exit status 2 and the word named; nothing touched, nothing printed.
    const std::pair<QStringList, const char*> refused[] = {
        {{"-z", "a"}, "unknown option '-z'"},
        {{"a", "-vz", "b"}, "unknown option '-z'"},
        {{"a", "--bogus"}, "unknown option '--bogus'"},
        {{"a", "--bogus=b"}, "unknown option '--bogus'"},
        {{"--level", "a", "b"}, "unknown level 'a'"},
        {{"a", "-l"}, "option '-l' needs a value"},
        {{"b", "a", "--level"}, "option '--level' needs a value"},
        {{"a", "-l", ""}, "unknown level ''"},
        {{"a", "-l", "4"}, "unknown level '4'"},
        {{"--quiet=1", "a"}, "option '--quiet' takes no value"},
        {{"--no", "a"}, "option '--no' is ambiguous"},
        {{"-v", "--", "a", "-l"}, nullptr}, // -l is a path after "--": this one is allowed
    };
    for (const auto& [args, problem] : refused) {
        const Result result = wipe(args);
        const std::string where = args.join(' ').toStdString();
        if (!problem) {
            EXPECT_EQ(result.exitCode, 0) << where << result.err.toStdString();
            EXPECT_FALSE(exists(dir.file("a")) || exists(dir.file("-l"))) << where;
            continue;
        }
        EXPECT_EQ(result.exitCode, 2) << where;
        EXPECT_TRUE(result.out.isEmpty()) << where;
        EXPECT_TRUE(result.err.startsWith(QString("ombrevault-cli wipe: ") + problem))
            << where << result.err.toStdString();
        for (const char* name : {"a", "b", "-v", "--level", "-z", "--bogus", "-"})
            EXPECT_EQ(readFile(dir.file(name)), "confidential") << where << name;
    }
    // The same for the commands with a path of their own, and for the program itself.
    const std::pair<QStringList, QString> others[] = {
        {{"-z"}, "-z"},
        {{"drive-info", "-z"}, "-z"},
        {{"clean-free-space", "--bogus", "a"}, "--bogus"},
        {{"help", "bogus"}, "bogus"},
        {{"bogus"}, "bogus"}};
    for (const auto& [args, word] : others) {
        const Result result = run(args);
        EXPECT_EQ(result.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(result.err.contains("'" + word + "'")) << result.err.toStdString();
    }
}

TEST_F(Cli, EachCommandExplainsItselfAndTellsItsVersion)
{
    for (const QStringList& args : {QStringList{"wipe", "--help"}, QStringList{"wipe", "a", "-h"},
                                    QStringList{"help", "wipe"}}) {
        const Result help = run(args);
        EXPECT_EQ(help.exitCode, 0);
        for (const char* part : {"--one-file-system", "least", "medium", "high", "Exit status",
                                 "SIGHUP", "Settings", "Operation log", "log.txt"})
            EXPECT_TRUE(help.out.contains(part)) << part;
    }
    for (const char* command : {"drive-info", "clean-free-space"}) {
        const Result help = run({command, "-h"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.startsWith(QString("Usage: ombrevault-cli ") + command));
        EXPECT_TRUE(help.out.contains("Exit status"));
    }
    // A stopped run ends by the signal, never with a status of its own.
    const Result clean = run({"clean-free-space", "-h"});
    EXPECT_TRUE(clean.out.contains("ends by the same signal")) << clean.out.toStdString();
    EXPECT_FALSE(clean.out.contains("stopped,")) << clean.out.toStdString();
    for (const QStringList& args : {QStringList{"-V"}, QStringList{"--version"},
                                    QStringList{"wipe", "-V"}, QStringList{"drive-info", "-V"}})
        EXPECT_EQ(run(args).out, "ombrevault-cli " OV_VERSION_STRING "\n");
}

// -i asks once, on standard error, and destroys only on a yes read from standard input.
TEST_F(Cli, InteractiveAsksOnceAndTakesOnlyYes)
{
    for (const char* answer : {"n\n", "", "yesterday\n", "\n"}) {
        const QString a = make("a"), b = make("b");
        test::Child::Options options;
        options.input = QByteArray(answer);
        auto child = spawn({"wipe", "-i", a, b}, options);
        ASSERT_TRUE(child->wait());
        EXPECT_TRUE(child->exitedWith(1)) << answer << child->howItEnded().constData();
        EXPECT_EQ(child->err.count("[y/N]"), 1);
        EXPECT_TRUE(child->err.contains("destroy 2 files (24 B)")) << child->err.constData();
        EXPECT_TRUE(child->err.contains("nothing was destroyed"));
        EXPECT_EQ(readFile(a.toUtf8()) + readFile(b.toUtf8()), "confidentialconfidential");
    }
    for (const char* answer : {"y\n", " YES\n"}) {
        const QString a = make("a"), b = make("b");
        test::Child::Options options;
        options.input = QByteArray(answer);
        auto child = spawn({"wipe", a, "-i", b}, options);
        ASSERT_TRUE(child->wait());
        EXPECT_TRUE(child->exitedWith(0)) << child->err.constData();
        EXPECT_EQ(child->err.count("[y/N]"), 1);
        EXPECT_FALSE(exists(a.toUtf8()) || exists(b.toUtf8()));
    }
}

// -n runs every check a wipe makes before its first byte and touches nothing.
TEST_F(Cli, DryRunListsWhatWouldGoAndWhatWouldFail)
{
    const QString plain = make("plain"), locked = make("locked");
    QFile::setPermissions(locked, QFile::ReadOwner);
    const Result result = wipe({"-n", "--level", "least", plain, locked, dir.file("missing")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "would destroy " + plain + "\n");
    EXPECT_TRUE(result.err.contains(locked + ": The file is read-only"))
        << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("missing: No such file"));
    EXPECT_EQ(readFile(plain.toUtf8()), "confidential");
    EXPECT_FALSE(QFileInfo(locked).permissions() & QFile::WriteOwner);
    // With -f the read-only file passes too; still nothing is touched.
    const Result forced = wipe({"-nf", "--level", "least", plain, locked});
    EXPECT_EQ(forced.exitCode, 0) << forced.err.toStdString();
    EXPECT_EQ(forced.out.count("would destroy"), 2);
    EXPECT_EQ(readFile(locked.toUtf8()), "confidential");
}

// --json: one object a line for each file, a failure too, that a script can read.
TEST_F(Cli, JsonTellsEachFileAsAnObjectALine)
{
    const QString file = make("plain");
    const QString missing = QString::fromUtf8(dir.file("missing"));
    const Result result = wipe({"--json", "-l", "1", file, missing});
    EXPECT_EQ(result.exitCode, 1);
    const QStringList lines = result.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << result.out.toStdString();
    // In the order each is dealt with (the least level's batch ends after the failure).
    std::map<QString, QJsonObject> byPath;
    for (const QString& line : lines) {
        QJsonParseError problem;
        const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &problem).object();
        EXPECT_EQ(problem.error, QJsonParseError::NoError) << line.toStdString();
        byPath[object["path"].toString()] = object;
    }
    EXPECT_EQ(byPath[file]["destroyed"].toBool(), true);
    EXPECT_FALSE(byPath[file]["layer"].toString().isEmpty());
    EXPECT_EQ(byPath[missing]["kind"].toString(), "failed");
    EXPECT_EQ(byPath[missing]["destroyed"].toBool(true), false);
}

// -f makes every level destroy a read-only file; without it every level refuses one,
// even for root.
TEST_F(Cli, ForceMakesReadOnlyFilesWritableAtEveryLevel)
{
    // Alike at every level: refused without -f, the refusal naming it.
    for (const char* level : {"least", "medium", "high"}) {
        const QString file = make(QByteArray("ro-") + level);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup);
        Result result = wipe({"-l", level, file});
        EXPECT_EQ(result.exitCode, 1) << level;
        EXPECT_TRUE(result.err.contains(file + ": The file is read-only (-f ")) << level;
        EXPECT_EQ(readFile(file.toUtf8()), "confidential") << level;
        result = wipe({"-l", level, "-f", file});
        EXPECT_EQ(result.exitCode, 0) << level << result.err.toStdString();
        EXPECT_FALSE(exists(file.toUtf8())) << level;
    }

    // For its owner, not root, the permission is what lets the passes write at all.
    const passwd* nobody = ::getpwnam("nobody");
    if (!test::runningAsRoot() || !nobody)
        GTEST_SKIP() << "needs root, to run the command as the user nobody";
    ASSERT_EQ(::chmod(dir.path().constData(), 0755), 0);
    const QByteArray own = dir.file("own");
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(own)));
    test::writeFile(own + "/ro", "confidential");
    for (const QByteArray& path : {own, own + "/ro"})
        ASSERT_EQ(::chown(path.constData(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod((own + "/ro").constData(), 0444), 0);
    test::Child::Options options;
    options.user = nobody->pw_uid;
    for (const char* level : {"least", "high"}) {
        auto child =
            spawn({"wipe", "--no-log", "-f", "-l", level, QFile::decodeName(own + "/ro")}, options);
        ASSERT_TRUE(child->wait());
        EXPECT_TRUE(child->exitedWith(0)) << level << child->err.constData();
        EXPECT_FALSE(exists(own + "/ro")) << level;
        test::writeFile(own + "/ro", "confidential");
        ASSERT_EQ(::chown((own + "/ro").constData(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chmod((own + "/ro").constData(), 0444), 0);
    }
}

// Output: "destroyed" lines on stdout only without -q; -q leaves failures alone; a note
// when --scramble meets the medium level, which never renames.
TEST_F(Cli, QuietVerboseAndTheMediumLevelNote)
{
    QString a = make("a");
    Result result = wipe({"-q", a, dir.file("missing")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_EQ(result.err.count('\n'), 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("missing: No such file"));

    a = make("a");
    result = wipe({"--scramble", "--level", "medium", a});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.err.contains("the medium level never renames")) << result.err.toStdString();
    EXPECT_EQ(result.out, "destroyed " + a + ": verified on the device\n");
    a = make("a");
    result = wipe({"-s", "-q", "-l2", a});
    EXPECT_TRUE(result.err.isEmpty()) << "--quiet says nothing but failures";
    a = make("a");
    result = wipe({"-s", "-l1", a});
    EXPECT_FALSE(result.err.contains("never renames"));
    EXPECT_TRUE(result.err.isEmpty()) << "no progress line off a terminal";
}

// Each line carries the file's verdict. A file the overwrite did not reach is deleted as
// asked but never called destroyed, even with --quiet, and fails the command.
TEST_F(Cli, VerdictsOnEachLineAndNotReachedFails)
{
    QString file = make("plain");
    Result result = wipe({"--no-verify", "-l", "least", file});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, "destroyed " + file + ": overwritten (not read back)\n");

    QString why;
    const auto btrfs = test::LoopMount::create("btrfs", qint64(256) << 20, &why);
    if (!btrfs)
        GTEST_SKIP() << why.toStdString();
    for (const QStringList& options : {QStringList{"-l", "least"}, QStringList{"-q", "-l1"}}) {
        file = QFile::decodeName(btrfs->mountPoint() + "/moved");
        test::writeFile(file.toUtf8(), QByteArray(64 << 10, 'M'));
        result = wipe(options + QStringList{file});
        EXPECT_EQ(result.exitCode, 1) << result.err.toStdString();
        EXPECT_TRUE(result.out.startsWith("deleted " + file + ", NOT destroyed: not reached ("))
            << result.out.toStdString();
        EXPECT_FALSE(result.out.contains("destroyed " + file + ":"));
        EXPECT_FALSE(exists(file.toUtf8()));
    }

    // The log never records as destroyed what was not: a second line says why, for a
    // file not reached and for one the wipe could not touch (immutable).
    const QByteArray log = QFile::encodeName(QFileInfo(OV_CLI_PATH).absolutePath()) + "/log.txt";
    const QString moved = QFile::decodeName(btrfs->mountPoint() + "/logged");
    test::writeFile(moved.toUtf8(), QByteArray(64 << 10, 'M'));
    const QString fixed = make("fixed");
    ASSERT_TRUE(test::runTool("chattr", {"+i", fixed}));
    result = wipe({"--log", "-l", "1", moved, fixed});
    test::runTool("chattr", {"-i", fixed});
    EXPECT_EQ(result.exitCode, 1);
    const QByteArray lines = readFile(log);
    for (const QString& path : {moved, fixed}) {
        EXPECT_EQ(lines.count(path.toUtf8() + " Deleted via ratio 1\r\n"), 1) << path.toStdString();
        EXPECT_EQ(lines.count(path.toUtf8() + " NOT destroyed: "), 1) << path.toStdString();
    }
    EXPECT_EQ(readFile(fixed.toUtf8()), "confidential");
}

} // namespace
} // namespace ov
