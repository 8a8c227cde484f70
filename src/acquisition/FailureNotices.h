#pragma once

#include "common/Error.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace telvar {

// What one polling cycle found at one port: the errors it reported for the
// port, each with the report's text. A port without errors read its page
// (with or without a reading): it is well as far as boxes go.
struct PortReports {
    int port = 0;
    QList<Error> errors;
    QStringList texts;
};

// Decides which of the ports' reports deserve a box. A station that stays
// misconfigured fails the same way at every cycle, for months: its report
// is boxed when the port starts failing, and again only when its failure
// changes (another error number or description) or after it has been well
// for a cycle. The grid's status column, its tooltip and the log carry the
// failure meanwhile. The ports of one cycle that deserve a box share one,
// listing at most ListedPorts of them and counting the rest.
class FailureNotices final {
public:
    static constexpr int ListedPorts = 20;

    // The ports one cycle handled, in their order (a port the cycle did not
    // reach is left out and keeps what was known of it). Returns the text
    // of the cycle's box, or nothing when no port deserves one. idioma
    // chooses the language of the count of ports left out.
    std::optional<QString> cycleEnded(const QList<PortReports>& ports, int idioma);

    // Forgets every port's failure, so that the next cycle boxes each
    // failure again (a new start of the acquisition).
    void clear();

    // Whether port's last cycle ended with errors.
    bool isFailing(int port) const { return m_failing.contains(port); }

private:
    // Each failing port's errors of its last cycle, as number and
    // description.
    QHash<int, QList<std::pair<long long, QString>>> m_failing;
};

} // namespace telvar
