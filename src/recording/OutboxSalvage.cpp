#include "recording/OutboxSalvage.h"

#include "common/ErrorNumbers.h"
#include "database/SqliteSalvage.h"
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

// Copies the salvaged file's readings into the new outbox, slice by slice.
Status copyReadings(Outbox& from, Outbox& to, OutboxSalvage& report)
{
    for (qint64 after = 0;;) {
        auto slice = from.pendingAfter(after, kSlice);
        if (!slice)
            return slice.error();
        if (slice.value().isEmpty())
            break;
        after = slice.value().last().id;
        QList<OutboxEntry> entries = slice.value();
        if (Status kept = to.append(entries); !kept)
            return kept;
        report.pending += entries.size();
    }
    for (qint64 after = 0;;) {
        auto slice = from.quarantinedAfter(after, kSlice);
        if (!slice)
            return slice.error();
        if (slice.value().isEmpty())
            break;
        after = slice.value().last().entry.id;
        if (Status kept = to.quarantine(slice.value()); !kept)
            return kept;
        report.quarantined += slice.value().size();
    }
    return {};
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

    const QString copy = report.asidePath + QStringLiteral(".salvaged");
    QFile::remove(copy);
    report.incomplete = salvageSqliteFile(report.asidePath, copy);

    auto fresh = Outbox::open(path, /*checkpoints=*/true);
    if (!fresh)
        return fresh.error();
    // What the copy holds is kept even when not all could be read: each
    // row is a whole reading with its note, and a reading already recorded
    // is found in its noted row before it is written again.
    if (QFileInfo::exists(copy)) {
        auto salvaged = Outbox::open(copy, /*checkpoints=*/true);
        const Status copied = salvaged ? copyReadings(*salvaged.value(), *fresh.value(), report)
                                       : Status(salvaged.error());
        if (!copied)
            report.incomplete += (report.incomplete.isEmpty() ? QString() : QStringLiteral("; ")) +
                                 copied.error().description;
    }
    for (const QString& suffix :
         {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        QFile::remove(copy + suffix);
    return report;
}

} // namespace telvar
