#pragma once

#include <QString>

#include <functional>

namespace ov {

// Hands a document or an address to the desktop's opener. open() returns at once; the
// outcome arrives later, on the interface thread, through `done`.
class LinkOpener
{
public:
    struct Outcome
    {
        enum class Kind
        {
            Finished,   // the opener ran and ended with exitStatus
            NotStarted, // there is no opener to run
            Crashed     // the opener died before it could say
        };
        Kind kind = Kind::Finished;
        int exitStatus = 0;
    };

    virtual ~LinkOpener() = default;
    virtual void open(const QString& target, std::function<void(Outcome)> done) = 0;
};

} // namespace ov
