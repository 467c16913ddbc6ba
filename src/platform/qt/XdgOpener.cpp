#include "platform/qt/XdgOpener.h"

#include <QProcess>

#include <memory>

namespace ov {

XdgOpener::XdgOpener(QString program) : m_program(std::move(program)) {}

void XdgOpener::open(const QString& target, std::function<void(Outcome)> done)
{
    // Deliberately without a parent: a running opener (and the browser it may be waiting
    // for) must not be killed when the window that asked for it goes away. It deletes
    // itself once it has ended.
    auto* process = new QProcess;
    process->setProgram(m_program);
    process->setArguments({target});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setStandardInputFile(QProcess::nullDevice());

    auto answered = std::make_shared<bool>(false);
    auto report = [done = std::move(done), answered](Outcome outcome) {
        if (*answered)
            return;
        *answered = true;
        if (done)
            done(outcome);
    };
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, report](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return; // a crash is reported by finished()
                         report({Outcome::Kind::NotStarted, 0});
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, report](int exitCode, QProcess::ExitStatus status) {
                         if (status == QProcess::CrashExit)
                             report({Outcome::Kind::Crashed, -1});
                         else
                             report({Outcome::Kind::Finished, exitCode});
                         process->deleteLater();
                     });
    process->start();
}

} // namespace ov
