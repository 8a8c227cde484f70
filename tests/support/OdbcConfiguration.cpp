#include "support/OdbcConfiguration.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <memory>

namespace telvar::test {

namespace {

QString systemIni()
{
    QFile file(QStringLiteral("/etc/odbcinst.ini"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression commLog(QStringLiteral("(?im)^\\s*CommLog\\s*=.*$"));
    text.replace(commLog, QStringLiteral("CommLog=0"));
    return text;
}

} // namespace

QString OdbcConfiguration::directory()
{
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir) {
        dir = std::make_unique<QTemporaryDir>();
        qputenv("ODBCSYSINI", QFile::encodeName(dir->path()));
    }
    return dir->path();
}

void OdbcConfiguration::write(bool withSystemDrivers, const QString& extraSections)
{
    QString text = withSystemDrivers ? systemIni() : QString();
    text += QStringLiteral("\n") + extraSections + QStringLiteral("\n");
    QFile file(QDir(directory()).filePath(QStringLiteral("odbcinst.ini")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        file.write(text.toUtf8());
}

bool OdbcConfiguration::systemHasFreeTds()
{
    return systemIni().contains(QLatin1String("[FreeTDS]"), Qt::CaseInsensitive);
}

} // namespace telvar::test
