#include "recording/OutboxSalvage.h"

#include "common/ErrorNumbers.h"
#include "recording/Outbox.h"

#include <QDir>
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

QString unsalvagedAside(const QString& path)
{
    const QFileInfo outbox(path);
    const QDir folder = outbox.dir();
    const QStringList asides = folder.entryList({outbox.fileName() + QStringLiteral(".damaged-*")},
                                                QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : asides) {
        if (name.endsWith(QLatin1String("-wal")) || name.endsWith(QLatin1String("-shm")) ||
            name.endsWith(QLatin1String(".salvaged")))
            continue;
        const QString aside = folder.filePath(name);
        if (!QFileInfo::exists(aside + QStringLiteral(".salvaged")))
            return aside;
    }
    return QString();
}

Result<OutboxSalvage> setAsideDamagedOutbox(const QString& path, const QDateTime& now,
                                            const QString& alreadyAside)
{
    OutboxSalvage report;
    report.asidePath = alreadyAside;
    if (report.asidePath.isEmpty()) {
        report.asidePath = freeAsideName(path, now);
        if (!QFile::rename(path, report.asidePath))
            return failure(path, QStringLiteral("the damaged outbox cannot be set aside as ") +
                                     report.asidePath);
        // The log holds commits the file does not: it goes with it. The
        // shared memory index is rebuilt from the two.
        const QString wal = path + QStringLiteral("-wal");
        if (QFileInfo::exists(wal) &&
            !QFile::rename(wal, report.asidePath + QStringLiteral("-wal"))) {
            Error error = failure(wal, QStringLiteral("the damaged outbox's log cannot be set "
                                                      "aside as ") +
                                           report.asidePath + QStringLiteral("-wal"));
            return error;
        }
        QFile::remove(path + QStringLiteral("-shm"));
    }

    // The new outbox is made whole beside its place and then takes it, so
    // that a failure half-way (a full disk) leaves no half outbox there.
    const Outbox::Readable found = Outbox::readDamaged(report.asidePath);
    report.incomplete = found.incomplete;
    const QString fresh = path + QStringLiteral(".new");
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(fresh + suffix);
    {
        auto made = Outbox::open(fresh, /*checkpoints=*/true);
        if (!made)
            return made.error();
        // Each row read is a whole reading with its note: a reading already
        // recorded is found in its noted row before it is written again.
        for (qsizetype from = 0; from < found.pending.size(); from += kSlice) {
            QList<OutboxEntry> slice = found.pending.mid(from, kSlice);
            if (Status kept = made.value()->append(slice); !kept)
                return kept.error();
            report.pending += slice.size();
        }
        for (qsizetype from = 0; from < found.quarantined.size(); from += kSlice) {
            const QList<QuarantinedEntry> slice = found.quarantined.mid(from, kSlice);
            if (Status kept = made.value()->quarantine(slice); !kept)
                return kept.error();
            report.quarantined += slice.size();
        }
    }
    // The last connection's close folded the log into the file.
    QFile::remove(path);
    if (!QFile::rename(fresh, path))
        return failure(fresh, QStringLiteral("the new outbox cannot take the place of ") + path);
    // The damaged file stays where it lies, marked as read.
    QFile marker(report.asidePath + QStringLiteral(".salvaged"));
    if (marker.open(QIODevice::WriteOnly))
        marker.write(QByteArray::number(report.pending + report.quarantined) + '\n');
    return report;
}

} // namespace telvar
