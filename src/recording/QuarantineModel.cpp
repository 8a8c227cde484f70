#include "recording/QuarantineModel.h"

#include "common/LogText.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "recording/GrabaQLTR.h"

namespace telvar {

namespace {

enum Column { Stamp, Port, Where, Characteristic, Value, Reason, ColumnCount };

} // namespace

QString QuarantineModel::reasonText(const QuarantinedEntry& q, int idioma)
{
    // A path check's reason is stored as the path it found missing; an
    // entry stored without it (an older outbox, a damaged row) names the
    // path its own fields give.
    const OutboxEntry& e = q.entry;
    QString path = q.reason.description;
    if (path.isEmpty())
        path = GrabaQLTR::missingPath(e.base, q.code, e.Forma, e.Maqui, e.Produ);
    switch (q.code) {
    case CodeErr::NoFormatDirectory:
    case CodeErr::NoMachineDirectory:
        return ownText(OwnText::QuarantineNoDirectory, idioma).arg(path);
    case CodeErr::NoDataFile:
        return ownText(OwnText::QuarantineNoDataFile, idioma).arg(path);
    case CodeErr::Recorded:
        // The data table's own refusal: its number and the engine's text.
        return QString::number(q.reason.number) + QStringLiteral(".- ") + q.reason.description;
    }
    // A code this program does not write (a damaged or foreign row): shown
    // as stored, said to be unknown.
    return ownText(OwnText::QuarantineOtherCode, idioma)
        .arg(QString::number(static_cast<int>(q.code)), q.reason.description);
}

QuarantineModel::QuarantineModel(const Modulo1& m, QObject* parent)
    : QAbstractTableModel(parent), m_m(m)
{
}

void QuarantineModel::setEntries(QList<QuarantinedEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    if (m_entries.size() > kMaxShown)
        m_entries.resize(kMaxShown);
    endResetModel();
}

void QuarantineModel::addEntries(const QList<QuarantinedEntry>& entries)
{
    QList<QuarantinedEntry> newest;
    newest.reserve(std::min(entries.size(), kMaxShown) + m_entries.size());
    for (auto it = entries.crbegin(); it != entries.crend() && newest.size() < kMaxShown; ++it)
        newest.append(*it);
    newest += m_entries;
    setEntries(std::move(newest));
}

int QuarantineModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

int QuarantineModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant QuarantineModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const QuarantinedEntry& q = m_entries[index.row()];
    // Page text is shown as one line of plain text.
    switch (index.column()) {
    case Stamp:
        return q.entry.stamp.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    case Port:
        return q.entry.Puert;
    case Where:
        return logLineText(GrabaQLTR::place(q.entry));
    case Characteristic:
        return logLineText(q.entry.Carac);
    case Value:
        return logLineText(q.entry.Valor);
    case Reason:
        return logLineText(reasonText(q, m_m.Idioma));
    default:
        return {};
    }
}

QVariant QuarantineModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    const int idioma = m_m.Idioma;
    switch (section) {
    case Stamp:
        return ownText(OwnText::QuarantineReadAt, idioma);
    case Port:
        return ownText(OwnText::QuarantinePort, idioma);
    case Where:
        return ownText(OwnText::QuarantineTable, idioma);
    case Characteristic:
        return ownText(OwnText::QuarantineCharacteristic, idioma);
    case Value:
        return ownText(OwnText::QuarantineValue, idioma);
    case Reason:
        return ownText(OwnText::QuarantineReason, idioma);
    default:
        return {};
    }
}

} // namespace telvar
