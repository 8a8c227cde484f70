#pragma once

#include "common/MessageId.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <array>

namespace telvar {

struct Modulo1;

// One reading as the readings grid shows it.
struct ReadingRow {
    QString tag;      // clock and port, " 3/012"
    QString dateTime; // "yyyy/mm/dd hh:mm:ss"
    QString Opera;
    QString Formato;
    QString Maquina;
    QString Producto;
    QString Carac;
    QString reading; // the text cut out of the page
    QString Marca;   // "?" outside the limits, else empty
    // For the port's chart: the reading's numeric value, the limits it was
    // checked against, and when its page arrived.
    double value = 0;
    double LimInf = 0;
    double LimSup = 0;
    QDateTime arrivedAt;
};

// A column of the readings grid: its header (a message, or a fixed text when
// fixedHeader is set) and whether its cells and header are centred.
struct ReadingsColumn {
    MessageId header;
    const char* fixedHeader;
    bool centred;
};

inline constexpr std::array<ReadingsColumn, 9> kReadingsColumns = {{
    {MessageId{76, 7}, nullptr, true},
    {MessageId{0, 6}, nullptr, true},
    {MessageId{0, 16}, nullptr, false},
    {MessageId{0, 20}, nullptr, false},
    {MessageId{0, 18}, nullptr, false},
    {MessageId{0, 19}, nullptr, false},
    {MessageId{0, 21}, nullptr, false},
    {MessageId{76, 28}, nullptr, true},
    {{}, "D", true},
}};

// The last readings, newest first. The acquisition adds them; the main
// window shows them. At most kMaxReadings are kept: a new reading beyond
// that pushes the oldest out.
class ReadingsModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxReadings = 199;

    explicit ReadingsModel(const Modulo1& m, QObject* parent = nullptr);

    // Puts the reading on top.
    void addReading(const ReadingRow& row);
    const ReadingRow& reading(int row) const { return m_rows.at(row); }
    // The headers are read again from the message table.
    void refreshHeaders();

signals:
    // A reading was put on top (also when it pushed the oldest out).
    void readingAdded(const telvar::ReadingRow& row);

public:
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    const Modulo1& m_m;
    QList<ReadingRow> m_rows;
};

} // namespace telvar
