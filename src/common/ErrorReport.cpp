#include "common/ErrorReport.h"

namespace telvar {

namespace {

const QString kTwoLineFeeds = QStringLiteral("\n\n");

} // namespace

QString errorReport(const QString& where, const Error& error, SourceLine sourceLine)
{
    QString report = where + kTwoLineFeeds;
    if (sourceLine == SourceLine::Shown)
        report += error.source + QLatin1Char('\n');
    return report + QString::number(error.number) + QStringLiteral(".- ") + error.description;
}

QString errorReport(const QString& where, const Error& error, SourceLine sourceLine,
                    const QString& context)
{
    return errorReport(where, error, sourceLine) + kTwoLineFeeds + context + kTwoLineFeeds;
}

} // namespace telvar
