#pragma once

// What the packaging tests share: running the packagers' tools, and the list of files an
// installation puts in place.
#include <QtTest>

namespace ov::test {

struct Run
{
    bool ok = false; // started and ended by itself with status 0
    int status = -1;
    QString output; // standard output and error together
};

inline Run run(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               const QString& folder = {}, int limitMs = 180000) // -1: as long as it takes
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, args);
    Run result;
    if (!process.waitForStarted(30000)) {
        result.output = program + ": " + process.errorString();
        return result;
    }
    const bool finished = process.waitForFinished(limitMs);
    result.output = QString::fromLocal8Bit(process.readAll());
    result.status = process.exitCode();
    result.ok = finished && process.exitStatus() == QProcess::NormalExit && result.status == 0;
    return result;
}

// The full path of a tool the test needs; empty, with a test failure, when it is missing.
inline QString tool(const char* name, const char* package)
{
    const QString path = QStandardPaths::findExecutable(QLatin1String(name));
    if (path.isEmpty())
        qWarning("%s is missing: install the package %s (scripts/deps.sh)", name, package);
    return path;
}

// The programs and their data, as installed with `prefix`: every file, no folders.
inline QStringList installedFiles(const QString& prefix)
{
    QStringList files{prefix + "/bin/ombrevault", prefix + "/bin/ombrevault-cli"};
    const QString share = prefix + "/share/";
    for (const char* file :
         {"ombrevault/help/help.html", "ombrevault/ombrevault.png",
          "applications/ombrevault.desktop",
          "metainfo/example.tallowbrookworks.ombrevault.metainfo.xml",
          "kio/servicemenus/ombrevault-destroy.desktop",
          "nemo/actions/ombrevault-destroy.nemo_action", "man/man1/ombrevault.1.gz",
          "man/man1/ombrevault-cli.1.gz", "bash-completion/completions/ombrevault-cli",
          "doc/ombrevault/copyright", "doc/ombrevault/changelog.gz"})
        files << share + file;
    // Where zsh looks: for packages below /usr, for everything else.
    files << share + (prefix == "/usr" ? "zsh/vendor-completions" : "zsh/site-functions") +
                 "/_ombrevault-cli";
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        files << share + QString("icons/hicolor/%1x%1/apps/ombrevault.png").arg(size);
    return files;
}

// Whether an ELF file still carries its symbol table, debugging information or the
// compiler's notes (.comment).
inline bool hasSymbols(const QString& file, bool comments = false)
{
    const Run sections = run(QStringLiteral("readelf"), {"-S", "-W", file});
    return !sections.ok || sections.output.contains(QLatin1String(".symtab")) ||
           sections.output.contains(QLatin1String(".debug_info")) ||
           (comments && sections.output.contains(QLatin1String(".comment")));
}

// What `ombrevault-cli --help` names as the operation log.
inline QString logPlace(const QString& cli, const QProcessEnvironment& env)
{
    const Run help = run(cli, {"--help"}, env);
    static const QRegularExpression line(QStringLiteral("\nOperation log:\n  ([^\n]*)\n"));
    const QRegularExpressionMatch match = line.match(help.output);
    return help.ok && match.hasMatch() ? match.captured(1) : help.output;
}

} // namespace ov::test
