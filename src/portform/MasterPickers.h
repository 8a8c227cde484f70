#pragma once

#include "common/Error.h"
#include "common/MessageId.h"
#include "portform/PortBoxes.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QVariantList>
#include <memory>
#include <optional>

namespace telvar {

struct Modulo1;
class Interaccion;
class Connection;

// The six master-data pickers of the port form, by the code each gives the
// grid: operators, then the stations of the operator, the machines of the
// station, the products of the machine, the formats of the product and the
// characteristics of the format.
enum class PickerTable { USU, EXU, MXE, PXM, FXP, CXF };

// The picker's code ("USU", "EXU", ...).
QString pickerCode(PickerTable table);

// A column of a picker's grid: its width in twips and its caption's message.
struct PickerColumn {
    int widthTwips;
    MessageId caption;
};

// The statement that lists what a picker offers, with the parent key bound
// as its one value (none for the operators).
struct PickerQuery {
    QString statement;
    QVariantList values;
};

// The first width characters of a box's text without surrounding blanks:
// the key a box holds, bare or followed by a picked description.
QString keyInBox(const QString& boxText, int width);

// The query of table for the parent key, with descriptions in language idioma.
PickerQuery pickerQuery(PickerTable table, const QString& parentKey, int idioma);
// The heading over the grid of table for the parent key.
QString pickerHeading(PickerTable table, const QString& parentKey, const Modulo1& m);
// The grid's columns of table, in the query's order.
QList<PickerColumn> pickerColumns(PickerTable table);
// The parent key of table as the boxes hold it ("" for the operators).
QString parentKeyOf(PickerTable table, const PortBoxes& boxes, const Modulo1& m);
// The box's own key, by the width the picker finds it with.
QString ownKeyOf(PickerTable table, const PortBoxes& boxes, const Modulo1& m, int keyColumnSize);
// The text a pick puts into the box: the key padded with blanks (or cut) to
// keySize, ": ", then the description (nothing for a null one).
QString pickedBoxText(const QVariant& key, int keySize, const QVariant& description);

// What a picker lists: the rows of its query, read whole and never written.
class PickerModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // At most this many rows are read; a master table larger than that is
    // shown cut, and truncated() says so.
    static constexpr int kMaxRows = 20000;

    using QAbstractTableModel::QAbstractTableModel;

    // Runs query on cn and holds its rows; on an error the model is empty.
    Status load(const Connection& cn, const PickerQuery& query);
    void clearRows();

    // The row whose key (the first column) is key, compared without case
    // and without trailing blanks; nullopt when none is.
    std::optional<int> findKey(const QString& key) const;
    // The key and the description (the last column) of row.
    QVariant key(int row) const;
    QVariant description(int row) const;
    bool truncated() const { return m_truncated; }

    void setCaptions(const QStringList& captions);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<QVariantList> m_rows;
    int m_columns = 0;
    QStringList m_captions;
    bool m_truncated = false;
};

// The pickers of one opening of the port form: the code of the picker that
// last took the focus (TablaActiva), the grid's rows, and the connection to
// the SPC database they are read from, opened at the first picker and kept
// while the form is open.
class MasterPickers final {
public:
    MasterPickers(Modulo1& m, Interaccion& ui);
    ~MasterPickers();
    MasterPickers(const MasterPickers&) = delete;
    MasterPickers& operator=(const MasterPickers&) = delete;

    // What a picker's focus shows.
    struct Shown {
        QString heading;
        // The row of the box's own key; nullopt when the key is not listed.
        std::optional<int> selectedRow;
    };

    // A key box took the focus: table becomes the active picker, and the
    // grid lists what the parent box allows, read now. boxes holds the
    // form's texts at this moment. A failed opening or query leaves the grid
    // empty; the failure has been reported (boxName names the box in it).
    Shown focus(PickerTable table, const PortBoxes& boxes, const QString& boxName);

    // The picker that last took the focus (kept while a free-text box has it).
    std::optional<PickerTable> TablaActiva() const { return m_activeTable; }
    PickerModel& model() { return m_model; }
    // The text the active picker's box gets from row; nullopt when there is
    // no such row or no picker has been active.
    std::optional<QString> pickedText(int row) const;

private:
    const Connection* connection();

    Modulo1& m_m;
    Interaccion& m_ui;
    std::unique_ptr<Connection> m_cn;
    PickerModel m_model;
    std::optional<PickerTable> m_activeTable;
    int m_keySize = 0; // defined size of the listed key column
};

} // namespace telvar
