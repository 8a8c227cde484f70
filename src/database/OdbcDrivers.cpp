#include "database/OdbcDrivers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QRegularExpression>
#include <QTextStream>
#include <algorithm>

namespace telvar {

namespace {

QString odbcinstPath()
{
    const QString sysDir = qEnvironmentVariableIsEmpty("ODBCSYSINI")
                               ? QStringLiteral("/etc")
                               : qEnvironmentVariable("ODBCSYSINI");
    const QString fileName = qEnvironmentVariableIsEmpty("ODBCINSTINI")
                                 ? QStringLiteral("odbcinst.ini")
                                 : qEnvironmentVariable("ODBCINSTINI");
    return QFileInfo(fileName).isAbsolute() ? fileName : QDir(sysDir).filePath(fileName);
}

void readSections(const QString& path, QStringList& names)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            // [ODBC] holds the driver manager's own settings, not a driver.
            if (!name.isEmpty() && name.compare(QLatin1String("ODBC"), Qt::CaseInsensitive) != 0 &&
                !names.contains(name, Qt::CaseInsensitive))
                names.append(name);
        }
    }
}

// The version number in "ODBC Driver 18 for SQL Server"; 0 without one.
int driverVersion(const QString& name)
{
    static const QRegularExpression number(QStringLiteral("(\\d+)"));
    const auto match = number.match(name);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

} // namespace

QStringList installedOdbcDrivers()
{
    QStringList names;
    readSections(odbcinstPath(), names);
    return names;
}

std::optional<QString> odbcDriverLibrary(const QString& driverName)
{
    QFile file(odbcinstPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return std::nullopt;
    QTextStream in(&file);
    bool inSection = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection =
                line.mid(1, line.size() - 2).trimmed().compare(driverName, Qt::CaseInsensitive) ==
                0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.compare(QLatin1String("Driver"), Qt::CaseInsensitive) == 0 ||
            key.compare(QLatin1String("Driver64"), Qt::CaseInsensitive) == 0) {
            const QString value = line.mid(eq + 1).trimmed();
            if (!value.isEmpty())
                return value;
        }
    }
    return std::nullopt;
}

std::optional<QString> brokenDriverLibrary(const QString& driverName)
{
    const auto library = odbcDriverLibrary(driverName);
    if (!library)
        return std::nullopt;
    if (QFileInfo(*library).isAbsolute() && !QFileInfo::exists(*library))
        return std::nullopt;
    QLibrary probe(*library);
    if (probe.load()) {
        // It loads here: the driver manager refused it for what it lacks.
        probe.unload();
        return *library + QStringLiteral(" loads but is not a usable ODBC driver");
    }
    const QString reason = probe.errorString();
    if (reason.contains(QLatin1String("No such file"), Qt::CaseInsensitive) ||
        reason.contains(QLatin1String("not found"), Qt::CaseInsensitive))
        return std::nullopt;
    return reason;
}

std::optional<QString> odbcDriverFor(OdbcEngine engine, const QStringList& installed)
{
    switch (engine) {
    case OdbcEngine::SqlServer: {
        for (const QString& name : installed) {
            if (name.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0)
                return name;
        }
        QStringList microsoft;
        for (const QString& name : installed) {
            if (name.contains(QLatin1String("SQL Server"), Qt::CaseInsensitive))
                microsoft.append(name);
        }
        if (microsoft.isEmpty())
            return std::nullopt;
        std::stable_sort(
            microsoft.begin(), microsoft.end(),
            [](const QString& a, const QString& b) { return driverVersion(a) > driverVersion(b); });
        return microsoft.first();
    }
    case OdbcEngine::Informix:
        for (const QString& name : installed) {
            if (name.contains(QLatin1String("Informix"), Qt::CaseInsensitive))
                return name;
        }
        return std::nullopt;
    case OdbcEngine::SqlAnywhere:
        for (const QString& name : installed) {
            if (name.contains(QLatin1String("SQL Anywhere"), Qt::CaseInsensitive) ||
                name.contains(QLatin1String("Adaptive Server Anywhere"), Qt::CaseInsensitive))
                return name;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace telvar
