#pragma once

#include "recording/OutboxEntry.h"

#include <QAbstractTableModel>
#include <QList>

namespace telvar {

struct Modulo1;

// The readings that waiting cannot record, as the readings tab lists them:
// when, port, where they were to go, the value and the reason.
class QuarantineModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // How many readings the list shows at most (the newest).
    static constexpr qsizetype kMaxShown = 1000;

    // m gives the language of the headings.
    explicit QuarantineModel(const Modulo1& m, QObject* parent = nullptr);

    // The list, newest first.
    void setEntries(QList<QuarantinedEntry> entries);
    // Readings just quarantined, in their order: they go on top.
    void addEntries(const QList<QuarantinedEntry>& entries);
    const QList<QuarantinedEntry>& entries() const { return m_entries; }
    // Why the reading is in the quarantine, in words of the language idioma:
    // a missing directory or data file named, or the data table's refusal
    // (its error number and text).
    static QString reasonText(const QuarantinedEntry& q, int idioma);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const Modulo1& m_m;
    QList<QuarantinedEntry> m_entries;
};

} // namespace telvar
