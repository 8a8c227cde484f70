#pragma once

#include "common/Error.h"
#include "config/ConfigRow.h"
#include "config/ConfigRowWriter.h"

#include <QHash>
#include <QSet>
#include <QSqlQueryModel>
#include <QString>
#include <memory>
#include <optional>

namespace telvar {

class Connection;
class Interaccion;

// The configuration as the main window's grid shows it (the recordset RsConf
// of the data control Data1): the rows of a record source over its own open
// connection to the configuration database, in the record source's order
// (by Puert). A cell edited in the grid is written to the database at once,
// with its value bound as a parameter, in a transaction that is kept only
// when it changed exactly that one row, and shows the stored value; the rows
// are read again as soon as the edit is over (not while the grid's editor is
// still committing). A value that does not fit its column, or a failed
// write, is reported through Interaccion and the cell keeps its stored value.
// A row is written by its Puert, so rows whose Puert is empty or shared with
// another row are read-only.
class ConfigGridModel final : public QSqlQueryModel {
    Q_OBJECT
public:
    explicit ConfigGridModel(Interaccion& ui, QObject* parent = nullptr);
    ~ConfigGridModel() override;

    // Runs recordSource on cn and shows its rows; the model keeps cn open
    // (replacing and closing the one it had). On an error the model is left
    // empty and unbound.
    Status bind(std::unique_ptr<Connection> cn, const QString& recordSource);
    // Empties the model and closes its connection.
    void unbind();
    bool isBound() const { return m_cn != nullptr; }
    const Connection* connection() const { return m_cn.get(); }
    const QString& recordSource() const { return m_recordSource; }

    // Runs another record source on the same connection (the acquisition
    // narrows the grid to the active ports and widens it again).
    Status setRecordSource(const QString& recordSource);
    // Reads the rows again.
    Status refresh();

    // A locked grid offers no cell for editing (the acquisition locks it
    // while it runs).
    void setLocked(bool locked);
    bool isLocked() const { return m_locked; }

    // Column captions by query field name (matched case-insensitively).
    void setCaptions(const QHash<QString, QString>& captionsByField);

    // The model column of a query field, -1 when the query has none.
    int columnOf(const QString& field) const;
    // The values of row rowIndex (0-based, in the record source's order).
    ConfigRow row(int rowIndex) const;
    // The same row as the query gives it, nulls kept.
    QSqlRecord rowRecord(int rowIndex) const;

    // The writer of the configuration's rows over the model's connection;
    // null while unbound. Whoever writes through it reads the rows again
    // with refresh() afterwards.
    const ConfigRowWriter* writer() const { return m_writer.get(); }
    // The row whose Puert is puert (the last such row when several share it);
    // a row whose Puert is empty has none.
    std::optional<int> rowOfPuert(int puert) const;

    // Writes value into column field of port puert ("Inter" writes the
    // interval of the port's clock). The value is checked against the
    // column first: whole numbers for the numeric columns (a clock from 0 to
    // 10), text no longer than the column's defined size; "" stores null.
    // A port that more than one row shares is refused, and so is a change
    // that would reach other rows than the port's own (nothing is written).
    // On success the rows are read again and fieldWritten is emitted.
    Status writeField(int puert, const QString& field, const QVariant& value);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    // A value typed into the grid reached the database.
    void fieldWritten(int puert, const QString& field);
    // The rows have been read (all of them) and can be found by Puert.
    void rowsRead();

private:
    Status runRecordSource();
    // Writes the checked value; the stored value, or the error.
    Result<QVariant> writeValue(int puert, const QString& field, const QVariant& value);
    // Forgets what was known of the rows read.
    void forgetRows();
    void rereadAfterEdit();
    // Reports a failed grid edit ("Telvar. DBGrid1.", the error).
    void warn(const Error& error);
    bool isEditable(const QString& field) const;

    Interaccion& m_ui;
    std::unique_ptr<Connection> m_cn;
    std::unique_ptr<ConfigRowWriter> m_writer; // over m_cn while bound
    QString m_recordSource;
    QHash<QString, QString> m_captions; // upper-cased field name -> caption
    QHash<int, int> m_rowOfPuert;       // Puert -> row, rebuilt after each read
    QSet<int> m_repeatedPuerts;         // Puert values more than one row has
    bool m_locked = false;
    QSet<int> m_ambiguousRows; // rows with an empty or shared Puert
    // Values written from the grid and not yet read again: (row, column) -> value.
    QHash<std::pair<int, int>, QVariant> m_written;
    bool m_rereadPending = false;
};

} // namespace telvar
