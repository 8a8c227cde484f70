#include "recording/OutboxSalvage.h"

#include "common/ErrorNumbers.h"
#include "recording/Outbox.h"

#include <QFile>
#include <QFileInfo>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar outbox");
constexpr qsizetype kSlice = 2000;

Error failure(const QString& path, const QString& what)
{
    return Error{ErrorNumber::UnspecifiedFailure, kSource, path + QStringLiteral(": ") + what};
}

// A name beside path that nothing holds yet.
QString freeAsideName(const QString& path, const QDateTime& now)
{
    const QString base =
        path + QStringLiteral(".damaged-") + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo::exists(name + QStringLiteral("-wal"));
         ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

} // namespace

Result<OutboxSalvage> setAsideDamagedOutbox(const QString& path, const QDateTime& now)
{
    OutboxSalvage report;
    report.asidePath = freeAsideName(path, now);
    if (!QFile::rename(path, report.asidePath))
        return failure(path, QStringLiteral("the damaged outbox cannot be set aside as ") +
                                 report.asidePath);
    // The log holds commits the file does not: it goes with it. The shared
    // memory index is rebuilt from the two.
    const QString wal = path + QStringLiteral("-wal");
    if (QFileInfo::exists(wal) && !QFile::rename(wal, report.asidePath + QStringLiteral("-wal")))
        return failure(wal, QStringLiteral("the damaged outbox's log cannot be set aside as ") +
                                report.asidePath + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));

    const Outbox::Readable found = Outbox::readDamaged(report.asidePath);
    report.incomplete = found.incomplete;
    auto fresh = Outbox::open(path, /*checkpoints=*/true);
    if (!fresh)
        return fresh.error();
    // Each row read is a whole reading with its note: a reading already
    // recorded is found in its noted row before it is written again.
    for (qsizetype from = 0; from < found.pending.size(); from += kSlice) {
        QList<OutboxEntry> slice = found.pending.mid(from, kSlice);
        if (Status kept = fresh.value()->append(slice); !kept)
            return kept.error();
        report.pending += slice.size();
    }
    for (qsizetype from = 0; from < found.quarantined.size(); from += kSlice) {
        const QList<QuarantinedEntry> slice = found.quarantined.mid(from, kSlice);
        if (Status kept = fresh.value()->quarantine(slice); !kept)
            return kept.error();
        report.quarantined += slice.size();
    }
    return report;
}

} // namespace telvar
