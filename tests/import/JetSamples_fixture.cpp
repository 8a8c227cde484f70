#include "import/JetSamples_fixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace telvar::test {

QString jetSample(const QString& name)
{
    return QStringLiteral(TELVAR_SOURCE_DIR "/tests/data/jet/") + name;
}

QString importHelper()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/telvar-import");
}

ImportRequest importRequest(const QString& source, const QString& target)
{
    ImportRequest request;
    request.source = source;
    request.target = target;
    request.helper = importHelper();
    return request;
}

QByteArray mdbTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        ADD_FAILURE() << program.toStdString()
                      << " cannot be run (scripts/deps installs mdbtools): "
                      << process.errorString().toStdString();
        return {};
    }
    process.closeWriteChannel();
    QByteArray out;
    const QDeadlineTimer deadline(120000);
    while (!process.waitForFinished(100) && !deadline.hasExpired())
        out += process.readAllStandardOutput();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << " did not finish";
    }
    out += process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        ADD_FAILURE() << program.toStdString() << " "
                      << arguments.join(QLatin1Char(' ')).toStdString()
                      << " failed: " << process.readAllStandardError().toStdString();
    return out;
}

QList<CsvRecord> parseCsv(const QByteArray& csv)
{
    const QString text = QString::fromUtf8(csv);
    QList<CsvRecord> records;
    CsvRecord record;
    CsvField field;
    bool inQuotes = false;
    bool fieldStarted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    field.text += c;
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                field.text += c;
            }
        } else if (c == QLatin1Char('"') && !fieldStarted) {
            inQuotes = true;
            field.quoted = true;
            fieldStarted = true;
        } else if (c == QLatin1Char(',')) {
            record.append(field);
            field = {};
            fieldStarted = false;
        } else if (c == QLatin1Char('\n')) {
            record.append(field);
            records.append(record);
            record = {};
            field = {};
            fieldStarted = false;
        } else {
            field.text += c;
            fieldStarted = true;
        }
    }
    if (fieldStarted || !record.isEmpty()) {
        record.append(field);
        records.append(record);
    }
    return records;
}

QMap<QString, QList<std::pair<QString, QString>>> mdbSchema(const QString& file)
{
    static const QRegularExpression table(QStringLiteral("^CREATE TABLE \\[(.+)\\]$"));
    static const QRegularExpression column(
        QStringLiteral("^\\s*\\[(.+)\\]\\s+(.+?)(?: NOT NULL)?,?\\s*$"));
    QMap<QString, QList<std::pair<QString, QString>>> schema;
    QString current;
    const QStringList lines =
        QString::fromUtf8(mdbTool(QStringLiteral("mdb-schema"), {file})).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (const auto m = table.match(line); m.hasMatch()) {
            current = m.captured(1);
            schema[current];
        } else if (line.startsWith(QLatin1Char(')'))) {
            current.clear();
        } else if (const auto c = column.match(line); c.hasMatch() && !current.isEmpty()) {
            schema[current].append({c.captured(1), c.captured(2)});
        }
    }
    return schema;
}

} // namespace telvar::test
