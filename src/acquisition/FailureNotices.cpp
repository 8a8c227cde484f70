#include "acquisition/FailureNotices.h"

#include "common/OwnTexts.h"

namespace telvar {

namespace {

QList<std::pair<long long, QString>> failureOf(const PortReports& port)
{
    QList<std::pair<long long, QString>> failure;
    failure.reserve(port.errors.size());
    for (const Error& error : port.errors)
        failure.append({error.number, error.description});
    return failure;
}

} // namespace

std::optional<QString> FailureNotices::cycleEnded(const QList<PortReports>& ports, int idioma)
{
    QStringList listed;
    qsizetype unlisted = 0;
    for (const PortReports& port : ports) {
        if (port.errors.isEmpty()) {
            m_failing.remove(port.port);
            continue;
        }
        QList<std::pair<long long, QString>> failure = failureOf(port);
        const auto known = m_failing.constFind(port.port);
        if (known != m_failing.cend() && *known == failure)
            continue;
        m_failing.insert(port.port, std::move(failure));
        if (listed.size() < ListedPorts)
            listed.append(port.texts.join(QLatin1String("\r\n\r\n")));
        else
            ++unlisted;
    }
    if (listed.isEmpty())
        return std::nullopt;
    // Each port's entry is its own report (its lines end in CR LF); a
    // blank line parts the entries.
    QString text = listed.join(QLatin1String("\r\n\r\n"));
    if (unlisted > 0)
        text += QLatin1String("\r\n\r\n") +
                ownText(OwnText::CycleFailuresMore, idioma).arg(QString::number(unlisted));
    return text;
}

void FailureNotices::clear()
{
    m_failing.clear();
}

} // namespace telvar
