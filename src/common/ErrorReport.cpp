#include "common/ErrorReport.h"

namespace telvar {

namespace {

const QString kTwoLineFeeds = QStringLiteral("\n\n");

} // namespace

QString errorReport(const QString& where, const RuntimeError& error, SourceLine sourceLine)
{
    QString report = where + kTwoLineFeeds;
    if (sourceLine == SourceLine::Shown)
        report += error.fuente + QLatin1Char('\n');
    return report + QString::number(error.numero) + QStringLiteral(".- ") + error.descripcion;
}

QString errorReport(const QString& where, const RuntimeError& error, SourceLine sourceLine,
                    const QString& context)
{
    return errorReport(where, error, sourceLine) + kTwoLineFeeds + context + kTwoLineFeeds;
}

} // namespace telvar
