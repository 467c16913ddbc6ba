#include "platform/qt/TerminationNotifier.h"

#include "platform/Termination.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include <unistd.h>

namespace ov {

TerminationNotifier::TerminationNotifier()
{
    termination::stopOnTermination(m_channel);
    m_notifier = new QSocketNotifier(termination::notifierFd(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(termination::notifierFd(), bytes, sizeof bytes) > 0) {
        }
        closeWindows();
        emit arrived();
    });
}

void TerminationNotifier::closeWindows()
{
    // A second signal closes again, which changes nothing: the main window still waits
    // for its runs.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible())
            window->close();
    }
}

void TerminationNotifier::endIfReceived() const
{
    if (const int signal = termination::received())
        termination::endBy(signal);
}

} // namespace ov
