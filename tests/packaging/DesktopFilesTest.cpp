#include "packaging/Packaging.h"
#include "support/TempDir.h"
#include "ui/main/CommandLine.h"

#include <QtTest>

using namespace ov;
using namespace ov::test;

namespace {

const QString kData = QStringLiteral(OV_TEST_SOURCE_DIR "/data/");
using KeyFile = QMap<QString, QMap<QString, QString>>;

// The groups and keys of a desktop entry or a Nemo action (comments and blank lines
// left out; a key given twice keeps its last value).
KeyFile readKeyFile(const QString& path)
{
    KeyFile groups;
    QString group;
    const QList<QByteArray> lines = readFile(QFile::encodeName(path)).split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            group = line.mid(1, line.size() - 2);
            groups[group];
        } else if (const qsizetype equals = line.indexOf('='); equals > 0) {
            groups[group][line.left(equals).trimmed()] = line.mid(equals + 1).trimmed();
        }
    }
    return groups;
}

// A command line cut into arguments as GLib's g_shell_parse_argv does, which the file
// managers use: blanks separate, single quotes keep everything, double quotes keep
// everything but a backslash before " \ $ or `, and a backslash outside quotes keeps the
// next character.
QList<QByteArray> shellWords(const QByteArray& line)
{
    QList<QByteArray> words;
    QByteArray word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const qsizetype end = line.indexOf('\'', i + 1);
            if (end < 0)
                return {}; // GLib refuses the line: nothing is started
            word += line.mid(i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size() &&
                    QByteArray("\"\\$`").contains(line[i + 1]))
                    ++i;
                word += line[i];
            }
            if (i >= line.size())
                return {};
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

// A local path as a file: URI, escaped as GLib's g_filename_to_uri escapes it.
QByteArray fileUri(const QByteArray& path)
{
    return "file://" + path.toPercentEncoding("/!$&'()*+,:=@");
}

// Files whose names a careless hand-over would split, unquote or re-encode.
const QList<QByteArray> kAwkwardFiles{"/tmp/ov test/a b.txt", "/tmp/it's \"quoted\"",
                                      "/tmp/back\\slash $HOME", "/tmp/caf\xe9 latin-1",
                                      "/tmp/100% done"};

// The entries the window makes of a command line.
std::vector<QByteArray> entriesOf(const QList<QByteArray>& argv)
{
    std::vector<const char*> pointers;
    for (const QByteArray& arg : argv)
        pointers.push_back(arg.constData());
    return commandLineText(int(pointers.size()), pointers.data()).entries;
}

// What a desktop entry's Exec line starts with several selected files: %F is one argument
// per file, %U one URI per file.
QList<QByteArray> launchDesktopExec(const QString& exec, const QList<QByteArray>& files)
{
    QList<QByteArray> argv;
    for (const QByteArray& word : shellWords(exec.toUtf8())) {
        if (word == "%F") {
            argv << files;
        } else if (word == "%U") {
            for (const QByteArray& file : files)
                argv << fileUri(file);
        } else {
            argv << word;
        }
    }
    return argv;
}

// What Nemo starts: the Exec text with %F or %U replaced by the files, each between the
// Quote characters, then cut into arguments (nemo-action.c).
QList<QByteArray> launchNemoExec(const KeyFile::mapped_type& action, const QList<QByteArray>& files)
{
    const QMap<QString, QByteArray> quotes{{"single", "'"}, {"double", "\""}, {"backtick", "`"}};
    const QByteArray quote = quotes.value(action.value("Quote"));
    QByteArray exec = action.value("Exec").toUtf8();
    QByteArrayList list;
    const bool uris = exec.contains("%U");
    for (const QByteArray& file : files) {
        QByteArray path = uris ? fileUri(file) : file;
        if (!uris)
            path.replace('"', "\\\"").replace('\'', "\\'");
        list << quote + path + quote;
    }
    exec.replace(uris ? "%U" : "%F", list.join(' '));
    return shellWords(exec);
}

// desktop-file-validate's complaints: "error" and "warning" lines (hints are advice).
QStringList validatorComplaints(const QString& file)
{
    const QString validator = tool("desktop-file-validate", "desktop-file-utils");
    if (validator.isEmpty())
        return {QStringLiteral("desktop-file-validate missing")};
    QStringList complaints;
    for (const QString& line : run(validator, {file}).output.split('\n')) {
        if (line.contains(QLatin1String(": error: ")) ||
            line.contains(QLatin1String(": warning: ")))
            complaints << line;
    }
    return complaints;
}

// The options ombrevault-cli lists in its help texts (the program's and every command's),
// long and short.
QStringList cliOptions()
{
    QStringList options;
    static const QRegularExpression option("(?<![\\w-])(--[a-z][a-z-]*|-[a-zA-Z])(?![\\w-])");
    for (const QStringList& args :
         {QStringList{"--help"}, QStringList{"wipe", "--help"}, QStringList{"drive-info", "--help"},
          QStringList{"clean-free-space", "--help"}}) {
        const Run usage = run(QStringLiteral(OV_CLI_PATH), args);
        for (auto it = option.globalMatch(usage.output); it.hasNext();)
            options << it.next().captured(1);
    }
    options.removeDuplicates();
    return options;
}

// The options of wipe, from its help.
QStringList wipeOptions()
{
    QStringList options;
    static const QRegularExpression option("^  (?:(-[a-zA-Z]), )?\\s*(--[a-z][a-z-]*)",
                                           QRegularExpression::MultilineOption);
    const Run usage = run(QStringLiteral(OV_CLI_PATH), {"wipe", "--help"});
    for (auto it = option.globalMatch(usage.output); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        options << match.captured(2);
        if (!match.captured(1).isEmpty())
            options << match.captured(1);
    }
    return options;
}

// The completions bash offers for a command line whose last word is being typed.
QStringList bashCompletions(const QStringList& words, const QString& folder = {})
{
    QString script = "source '" + kData + "completion/ombrevault-cli.bash'\nCOMP_WORDS=(";
    for (const QString& word : words)
        script += " '" + word + "'";
    script += QString(")\nCOMP_CWORD=%1\n_ombrevault_cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n")
                  .arg(words.size() - 1);
    const Run bash = run(QStringLiteral("bash"), {"-c", script},
                         QProcessEnvironment::systemEnvironment(), folder);
    return bash.output.split('\n', Qt::SkipEmptyParts);
}

} // namespace

class DesktopFilesTest : public QObject
{
    Q_OBJECT
private slots:
    // The menu entry starts the window and is nobody's opener of any file type.
    void menuEntry()
    {
        const QString file = kData + "ombrevault.desktop";
        const QStringList complaints = validatorComplaints(file);
        QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join('\n')));
        const auto entry = readKeyFile(file).value("Desktop Entry");
        QCOMPARE(entry.value("Type"), QStringLiteral("Application"));
        QVERIFY2(!entry.contains("MimeType"), "a MIME type makes it an opener, even the default");
        // Files dropped on the launcher arrive each as an entry of its own, names intact.
        QVERIFY(entry.value("Exec").contains("%F"));
        QCOMPARE(entriesOf(launchDesktopExec(entry.value("Exec"), kAwkwardFiles)),
                 std::vector<QByteArray>(kAwkwardFiles.begin(), kAwkwardFiles.end()));
    }

    // Dolphin's "Destroy with Ombrevault": for local files only, each selected file an
    // entry. It validates as a desktop entry; the files it applies to are named the way
    // service menus name them besides MimeType (which would make it an opener of files),
    // and it shows in no application menu.
    void dolphinServiceMenu()
    {
        const QString file = kData + "filemanager/ombrevault-destroy.desktop";
        const QStringList complaints = validatorComplaints(file);
        QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join('\n')));

        const KeyFile menu = readKeyFile(file);
        const auto entry = menu.value("Desktop Entry");
        QVERIFY(!entry.contains("MimeType"));
        QCOMPARE(entry.value("NoDisplay"), QStringLiteral("true"));
        QCOMPARE(entry.value("X-KDE-ServiceTypes").split(','),
                 (QStringList{"KonqPopupMenu/Plugin", "all/allfiles"})); // files, not folders
        // A remote file would reach the program as a temporary copy, which would then be
        // destroyed in its place.
        QCOMPARE(entry.value("X-KDE-Protocols"), QStringLiteral("file"));
        const QStringList actions = entry.value("Actions").split(';', Qt::SkipEmptyParts);
        QCOMPARE(actions.size(), 1);
        const auto action = menu.value("Desktop Action " + actions.first());
        QCOMPARE(action.value("Name"), QStringLiteral("Destroy with Ombrevault"));
        QCOMPARE(entriesOf(launchDesktopExec(action.value("Exec"), kAwkwardFiles)),
                 std::vector<QByteArray>(kAwkwardFiles.begin(), kAwkwardFiles.end()));
    }

    // Nemo's "Destroy with Ombrevault", with the keys Nemo requires, for local files only.
    void nemoAction()
    {
        const KeyFile file = readKeyFile(kData + "filemanager/ombrevault-destroy.nemo_action");
        QCOMPARE(file.keys(), QStringList{"Nemo Action"});
        const auto action = file.value("Nemo Action");
        QCOMPARE(action.value("Name"), QStringLiteral("Destroy with Ombrevault"));
        for (const char* key : {"Exec", "Selection"})
            QVERIFY2(!action.value(key).isEmpty(), key);
        QCOMPARE(action.value("Selection"), QStringLiteral("notnone"));
        QCOMPARE(action.value("Extensions"), QStringLiteral("nodirs;"));
        QCOMPARE(action.value("UriScheme"), QStringLiteral("file"));
        QCOMPARE(entriesOf(launchNemoExec(action, kAwkwardFiles)),
                 std::vector<QByteArray>(kAwkwardFiles.begin(), kAwkwardFiles.end()));
    }

    void metainfo()
    {
        const QString validator = tool("appstreamcli", "appstream");
        QVERIFY(!validator.isEmpty());
        const QStringList files =
            QDir(kData).entryList({"*.metainfo.xml"}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 1);
        const QString file = kData + files.first();
        const Run check = run(validator, {"validate", "--no-net", file});
        QVERIFY2(check.ok, qPrintable(check.output));
        static const QRegularExpression problem("^[EW]: ", QRegularExpression::MultilineOption);
        QVERIFY2(!check.output.contains(problem), qPrintable(check.output));

        const QString xml = QString::fromUtf8(readFile(QFile::encodeName(file)));
        const auto text = [&](const char* pattern) {
            return QRegularExpression(QLatin1String(pattern)).match(xml).captured(1);
        };
        QCOMPARE(text("<id>([^<]*)</id>") + ".metainfo.xml", files.first());
        QCOMPARE(text("<release version=\"([^\"]*)\""), QStringLiteral(OV_VERSION_STRING));
        QVERIFY(QFileInfo::exists(kData + text("<launchable type=\"desktop-id\">([^<]*)<")));
    }

    // Every page passes mandoc's strictest checks; the command line's page and the
    // completions offer every option its usage text lists.
    void manualPages()
    {
        const QString mandoc = tool("mandoc", "mandoc");
        QVERIFY(!mandoc.isEmpty());
        const QStringList pages = QDir(kData + "man").entryList(QDir::Files);
        QVERIFY(pages.contains("ombrevault.1") && pages.contains("ombrevault-cli.1"));
        for (const QString& page : pages) {
            const Run lint = run(mandoc, {"-T", "lint", kData + "man/" + page});
            QVERIFY2(lint.ok && lint.output.isEmpty(), qPrintable(lint.output));
        }
        const auto rendered = [&](const char* page) {
            // Without the overstriking that makes bold and underlined letters.
            static const QRegularExpression overstrike(".\\x08");
            return run(mandoc, {"-T", "ascii", kData + "man/" + page}).output.remove(overstrike);
        };
        QVERIFY(rendered("ombrevault.1").contains(QLatin1String(kFilesOption)));
        // The headings of the entries under COMMANDS and OPTIONS (indented by seven).
        QString headings, section;
        for (const QString& line : rendered("ombrevault-cli.1").split('\n')) {
            if (!line.isEmpty() && !line.startsWith(' '))
                section = line;
            else if ((section == "COMMANDS" || section == "OPTIONS") && line.size() > 7 &&
                     line.startsWith("       ") && line[7] != ' ')
                headings += line + '\n';
        }
        const QStringList options = cliOptions();
        for (const char* expected : {"--level", "--version", "-r", "--one-file-system", "-V"})
            QVERIFY2(options.contains(expected), expected);
        for (const QString& option : options) {
            const QRegularExpression heading("(?<![\\w-])" + option + "(?![\\w-])");
            QVERIFY2(headings.contains(heading), qPrintable(option));
        }
    }

    // Listed by man -k, as mandb indexes the installed pages.
    void manualPagesIndexed()
    {
        const QString mandb = tool("mandb", "man-db");
        QVERIFY(!mandb.isEmpty());
        TempDir dir;
        const QString pages = QFile::decodeName(dir.file("man"));
        QVERIFY(QDir().mkpath(pages + "/man1"));
        for (const QString& page : QDir(kData + "man").entryList(QDir::Files))
            QVERIFY(QFile::copy(kData + "man/" + page, pages + "/man1/" + page));
        const Run index = run(mandb, {"-q", "-c", pages});
        QVERIFY2(index.ok, qPrintable(index.output));
        const Run apropos = run(QStringLiteral("man"), {"-k", "-M", pages, "ombrevault"});
        QVERIFY2(apropos.ok, qPrintable(apropos.output));
        QVERIFY2(apropos.output.contains(QLatin1String("ombrevault (1)")) &&
                     apropos.output.contains(QLatin1String("ombrevault-cli (1)")),
                 qPrintable(apropos.output));
    }

    void bashCompletion()
    {
        const QStringList commands{"wipe", "drive-info", "clean-free-space", "help"};
        QCOMPARE(bashCompletions({"ombrevault-cli", ""}), commands);
        QCOMPARE(bashCompletions({"ombrevault-cli", "-"}),
                 (QStringList{"-h", "--help", "-V", "--version"}));
        QCOMPARE(bashCompletions({"ombrevault-cli", "help", ""}), commands);
        // Every option of wipe, and only its options.
        QStringList offered = bashCompletions({"ombrevault-cli", "wipe", "-"});
        QStringList options = wipeOptions() << "--";
        offered.sort();
        options.sort();
        QCOMPARE(offered, options);
        QVERIFY(options.contains("-x") && options.contains("--dry-run"));
        const QStringList levels{"1", "2", "3", "least", "medium", "high"};
        QCOMPARE(bashCompletions({"ombrevault-cli", "wipe", "--level", ""}), levels);
        QCOMPARE(bashCompletions({"ombrevault-cli", "wipe", "x", "-l", ""}), levels);
        QCOMPARE(bashCompletions({"ombrevault-cli", "wipe", "-rvl", ""}), levels);
        QCOMPARE(bashCompletions({"ombrevault-cli", "wipe", "--level", "=", "h"}),
                 QStringList{"high"});
        // A file name with a blank is one candidate; after "--" only files are offered.
        TempDir dir;
        writeFile(dir.file("a b.txt"), "x");
        writeFile(dir.file("-l"), "x");
        const QString folder = QFile::decodeName(dir.path());
        QCOMPARE(bashCompletions({"ombrevault-cli", "wipe", "a"}, folder), QStringList{"a b.txt"});
        QCOMPARE(bashCompletions({"ombrevault-cli", "wipe", "--", "a"}, folder),
                 QStringList{"a b.txt"});
        QCOMPARE(bashCompletions({"ombrevault-cli", "wipe", "--", "-l"}, folder),
                 QStringList{"-l"});
        QCOMPARE(bashCompletions({"ombrevault-cli", "drive-info", "--h"}), QStringList{"--help"});
        QCOMPARE(bashCompletions({"ombrevault-cli", "clean-free-space", "-"}),
                 (QStringList{"-h", "--help", "-V", "--version", "--"}));
    }

    void zshCompletion()
    {
        const QString zsh = tool("zsh", "zsh");
        QVERIFY(!zsh.isEmpty());
        const QString file = kData + "completion/_ombrevault-cli";
        const Run syntax = run(zsh, {"-n", file});
        QVERIFY2(syntax.ok, qPrintable(syntax.output));
        const QString text = QString::fromUtf8(readFile(QFile::encodeName(file)));
        QVERIFY(text.startsWith("#compdef ombrevault-cli\n"));
        // Each option has an entry of its own, with its description.
        for (const QString& option : cliOptions()) {
            const QRegularExpression entry("['\\)]" + option + "[=+]?\\[");
            QVERIFY2(text.contains(entry), qPrintable(option));
        }
        for (const char* command : {"'wipe:", "'drive-info:", "'clean-free-space:", "'help:"})
            QVERIFY2(text.contains(QLatin1String(command)), command);
    }
};

QTEST_GUILESS_MAIN(DesktopFilesTest)
#include "DesktopFilesTest.moc"
