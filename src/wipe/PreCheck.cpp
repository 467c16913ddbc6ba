#include "wipe/PreCheck.h"

#include "wipe/WipeMethods.h"

namespace ov {

std::vector<Error> precheckEntries(const std::vector<QByteArray>& entries, WipeLevel level,
                                   const WipeEnv& env)
{
    const WipeTarget::Rules rules = wipeRules(level, true, env);
    std::vector<Error> failures;
    // The whole list in one hand-off: a round trip for each entry would make a long list
    // slow to begin.
    env.runner.runBlocking([&] {
        for (const QByteArray& entry : entries) {
            // The medium level passes over a blank entry without touching anything.
            if (level == WipeLevel::Medium && (entry.isEmpty() || entry == " "))
                continue;
            try {
                (void)WipeTarget::prepare(entry, rules, env);
            } catch (const Error& error) {
                failures.push_back(error);
            }
        }
    });
    return failures;
}

std::optional<Error> precheckFailure(const std::vector<Error>& failures)
{
    if (failures.empty())
        return std::nullopt;
    QString text = failures.size() == 1
                       ? QStringLiteral("Nothing was destroyed: this entry cannot be destroyed.")
                       : QStringLiteral("Nothing was destroyed: these %1 entries cannot be "
                                        "destroyed.")
                             .arg(failures.size());
    for (const Error& failure : failures)
        text += QLatin1Char('\n') + failure.text();
    text += QStringLiteral("\nRemove them from the list or set them right, then press the "
                           "button again.");
    return Error(failures.front().code(), text);
}

} // namespace ov
