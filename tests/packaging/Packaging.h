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
               const QString& folder = {})
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
    const bool finished = process.waitForFinished(180000);
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

// The program, its launchers and its data, as installed with `prefix` and the program
// folder `program`: every file and link, no folders.
inline QStringList installedFiles(const QString& prefix, const QString& program)
{
    QStringList files{program + "/ombrevault",     program + "/ombrevault-cli",
                      program + "/ombrevault.png", program + "/help/help.html",
                      prefix + "/bin/ombrevault",  prefix + "/bin/ombrevault-cli"};
    const QString share = prefix + "/share/";
    for (const char* file :
         {"applications/ombrevault.desktop",
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

// Whether an ELF file still carries its symbol table or debugging information.
inline bool hasSymbols(const QString& file)
{
    const Run sections = run(QStringLiteral("readelf"), {"-S", "-W", file});
    return !sections.ok || sections.output.contains(QLatin1String(".symtab")) ||
           sections.output.contains(QLatin1String(".debug_info"));
}

} // namespace ov::test
