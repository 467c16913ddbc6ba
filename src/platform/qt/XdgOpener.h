#pragma once

#include "platform/LinkOpener.h"

namespace ov {

// The desktop's own opener, xdg-open, run as a separate process so that the window goes
// on serving events while it works (it may wait for the browser it starts).
class XdgOpener : public LinkOpener
{
public:
    explicit XdgOpener(QString program = QStringLiteral("xdg-open"));
    void open(const QString& target, std::function<void(Outcome)> done) override;

private:
    QString m_program;
};

} // namespace ov
