#include "status/StatusSetting.h"

#include "common/ErrorNumbers.h"
#include "common/LogText.h"
#include "common/OwnTexts.h"

#include <QDir>
#include <QFile>
#include <QList>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar status");
// A value is shown in an error at most this long.
constexpr qsizetype kMostShown = 40;
// More digits than any port has: a longer number is not converted at all.
constexpr qsizetype kMostDigits = 5;

Error settingError(long long number, const QString& description)
{
    return Error{number, kSource, description};
}

QString shownValue(const QString& value)
{
    QString shown = logLineText(value.left(kMostShown));
    if (value.size() > kMostShown)
        shown += QStringLiteral("...");
    return shown;
}

bool allDigits(QStringView text)
{
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

QString StatusSetting::pathForInstallation(const QString& appPath)
{
    return QDir(appPath).filePath(QStringLiteral("TelvarService.ini"));
}

Result<StatusSetting> StatusSetting::read(const QString& path, int idioma)
{
    QFile file(path);
    if (!file.exists())
        return StatusSetting{};
    if (!file.open(QIODevice::ReadOnly))
        return settingError(
            ErrorNumber::UnspecifiedFailure,
            ownText(OwnText::SettingUnreadable, idioma).arg(path, file.errorString()));
    // One byte more than allowed tells a file that is too large without
    // reading the rest of it.
    const QByteArray bytes = file.read(kMostBytes + 1);
    if (bytes.isNull() && file.error() != QFileDevice::NoError)
        return settingError(
            ErrorNumber::UnspecifiedFailure,
            ownText(OwnText::SettingUnreadable, idioma).arg(path, file.errorString()));
    return parse(bytes, path, idioma);
}

Result<StatusSetting> StatusSetting::parse(const QByteArray& bytes, const QString& path, int idioma)
{
    if (bytes.size() > kMostBytes)
        return settingError(
            ErrorNumber::Overflow,
            ownText(OwnText::SettingTooLarge, idioma).arg(path, QString::number(kMostBytes)));
    // Invalid UTF-8 becomes U+FFFD: it can only make a line that is not
    // the port's, or a port that is not a number.
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);

    StatusSetting setting;
    bool inStatus = false;
    int portLine = 0;
    const QList<QStringView> lines = QStringView(text).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = static_cast<int>(i + 1);
        const QStringView line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inStatus = line.mid(1, line.size() - 2)
                           .trimmed()
                           .compare(QLatin1String("status"), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inStatus)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return settingError(ErrorNumber::InvalidArgument,
                                ownText(OwnText::SettingNotKeyValue, idioma)
                                    .arg(path, QString::number(lineNumber)));
        const QStringView name = line.left(equals).trimmed();
        if (name.compare(QLatin1String("port"), Qt::CaseInsensitive) != 0)
            continue;
        if (portLine != 0)
            return settingError(
                ErrorNumber::InvalidArgument,
                ownText(OwnText::SettingPortTwice, idioma)
                    .arg(path, QString::number(lineNumber), QString::number(portLine)));
        portLine = lineNumber;
        const QStringView value = line.mid(equals + 1).trimmed();
        if (value.isEmpty())
            continue;
        // Leading zeros are allowed; the digits that count must fit.
        QStringView digits = value;
        while (digits.size() > 1 && digits.front() == QLatin1Char('0'))
            digits = digits.mid(1);
        const int port = allDigits(value) && digits.size() <= kMostDigits ? digits.toInt() : -1;
        if (port < 0 || port > 65535)
            return settingError(
                ErrorNumber::InvalidArgument,
                ownText(OwnText::SettingBadPort, idioma)
                    .arg(path, QString::number(lineNumber), shownValue(value.toString())));
        setting.port = static_cast<quint16>(port);
    }
    return setting;
}

} // namespace telvar
