#pragma once

#include "portform/MasterPickers.h"
#include "portform/PortBoxes.h"
#include "portform/PortPreview.h"
#include "portform/PortSave.h"
#include "portform/widgets/FormInteraccion.h"

#include <QDialog>
#include <QList>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;

namespace telvar {

struct Modulo1;
class Interaccion;
class ConfigGridModel;
class PageLoader;
class PreviewPanel;

// The port form: edits one port of the configuration (where its reading is
// found, the master data it is recorded under, its clock), with a picker
// for each master-data key and a live preview of what the port reads.
class HtmlCanal final : public QDialog {
    Q_OBJECT
public:
    HtmlCanal(Modulo1& m, Interaccion& ui, ConfigGridModel& rsConf, PageLoader& loader,
              QWidget* parent = nullptr);
    ~HtmlCanal() override;

    // The port to edit; set before Form_Load.
    int PuertoConf = 0;

    // Captions, the boxes from the port's row and the preview. False when
    // the configuration has no such port (reported; the form must not open).
    bool Form_Load();
    // The twelve boxes from the port's stored row.
    void ActPant();
    // "NINGUNO" hides the picker section, "UNO" shows it; any other text
    // changes nothing.
    void Prender(const QString& Seccion);

    void cmdAceptar_Click();
    void cmdCancelar_Click();

    // Whether a box differs from what the form loaded.
    bool changed() const;

    // The boxes' texts now.
    PortBoxes boxes() const;
    MasterPickers& pickers() { return m_pickers; }

    // Esc and the close box: the form closes without saving, after asking
    // whether to discard the edits when there are any. (The Cancel button
    // discards them without asking.)
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct KeyBox {
        QLineEdit* box;
        PickerTable table;
    };

    void buildControls();
    QLineEdit* addBox(const QString& name, int maxLength);
    void setCaptions();
    void gotFocus(QLineEdit* box);
    void pickerGotFocus(const KeyBox& picker);
    void gridRowChanged(int row);
    void setTabOrderWithGridAfter(QWidget* box);
    void showCutInPreview();

    Modulo1& m_m;
    Interaccion& m_ui;
    ConfigGridModel& m_rsConf;
    // The boxes that the form, its pickers and its saving show: the focus
    // comes back to the form when each closes.
    FormInteraccion m_formUi;
    MasterPickers m_pickers;
    PortSave m_save;
    PortPreview m_preview;

    QList<QLabel*> m_labels;
    QLineEdit* m_txtDescr = nullptr;
    QLineEdit* m_txtWebPg = nullptr;
    QLineEdit* m_txtIdent = nullptr;
    QLineEdit* m_txtInici = nullptr;
    QLineEdit* m_txtLongi = nullptr;
    QLineEdit* m_txtOpera = nullptr;
    QLineEdit* m_txtEstac = nullptr;
    QLineEdit* m_txtMaqui = nullptr;
    QLineEdit* m_txtProdu = nullptr;
    QLineEdit* m_txtForma = nullptr;
    QLineEdit* m_txtCarac = nullptr;
    QLineEdit* m_txtReloj = nullptr;
    QPushButton* m_cmdAceptar = nullptr;
    QPushButton* m_cmdCancelar = nullptr;
    QLabel* m_lblD1 = nullptr;
    QTableView* m_DBGrid1 = nullptr;
    PreviewPanel* m_previewPanel = nullptr;
    QList<KeyBox> m_keyBoxes;
    // The boxes as the form loaded them.
    PortBoxes m_loaded;
    // Waits for the typing in the web page box to pause before fetching.
    QTimer* m_addressPause = nullptr;
    // True while a picker fills the grid and selects its row: those moves
    // are the grid's own, not the person's, and fill no box.
    bool m_gridFilling = false;
    // Whether the grid's last input was a person's move in the list (a
    // click, a key other than Tab), since it last took the focus.
    bool m_personMovesInGrid = false;
};

} // namespace telvar
