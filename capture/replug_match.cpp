#include "capture/replug_match.h"

#include "capture/start_parameters.h"

namespace Vardel {

namespace {

// The text after the first ": ", colons and blanks included; nothing without one.
std::optional<QString> nameOf(const QString& entry)
{
    const qsizetype separator = entry.indexOf(QLatin1String(": "));
    if (separator < 0)
        return std::nullopt;
    return entry.mid(separator + 2);
}

} // namespace

std::optional<QString> replugMatch(const QString& stored, const QStringList& listed)
{
    const auto name = nameOf(stored);
    if (listed.contains(stored) || isTestSource(stored) || !name || name->isEmpty())
        return std::nullopt;
    std::optional<QString> match;
    for (const QString& entry : listed) {
        if (isTestSource(entry) || nameOf(entry) != name)
            continue;
        if (match)
            return std::nullopt; // two devices of that name: either could be the stored one
        match = entry;
    }
    return match;
}

} // namespace Vardel
