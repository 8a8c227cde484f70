#include "portform/widgets/HtmlCanal.h"

#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "common/Twips.h"
#include "config/ConfigGridModel.h"
#include "dialogs/TwipsRect.h"
#include "dialogs/widgets/TwipsPixels.h"
#include "portform/Mnemonics.h"
#include "portform/widgets/PreviewPanel.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <algorithm>

namespace telvar {

namespace {

// A label of the form: its index in the label array, its message and place.
struct LabelPlace {
    int index;
    MessageId caption;
    TwipsRect rect;
};

constexpr LabelPlace kLabels[] = {
    {14, {76, 14}, {120, 120, 1110, 195}},  {15, {76, 15}, {120, 480, 1110, 195}},
    {16, {76, 16}, {120, 840, 1110, 195}},  {0, {76, 25}, {120, 1200, 1110, 195}},
    {1, {76, 26}, {2940, 1200, 1110, 195}}, {22, {76, 22}, {120, 1680, 1110, 195}},
    {17, {76, 17}, {120, 2025, 1110, 195}}, {18, {76, 18}, {120, 2385, 1110, 195}},
    {19, {76, 19}, {120, 2745, 1110, 195}}, {20, {76, 20}, {120, 3105, 1110, 195}},
    {21, {76, 21}, {120, 3480, 1110, 195}}, {23, {76, 23}, {5400, 3480, 495, 195}},
};

// The form's own area and the preview beside it, in twips.
constexpr double kFormWidth = 6675;
constexpr double kFormHeight = 7335;
constexpr TwipsRect kPreviewRect{6675, 75, 5100, 7140};

// How long the web page box must rest before its page is fetched.
constexpr int kAddressPauseMs = 700;

} // namespace

HtmlCanal::HtmlCanal(Modulo1& m, Interaccion& ui, ConfigGridModel& rsConf, PageLoader& loader,
                     QWidget* parent)
    : QDialog(parent), m_m(m), m_ui(ui), m_rsConf(rsConf), m_formUi(ui, *this),
      m_pickers(m, m_formUi), m_save(m, m_formUi, rsConf), m_preview(loader, m.Idioma)
{
    setObjectName(QStringLiteral("HtmlCanal"));
    setWindowTitle(QStringLiteral("Configuración de Puerto y Canal"));
    setModal(true);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPointSize(8);
    setFont(tahoma);
    buildControls();
}

HtmlCanal::~HtmlCanal() = default;

QLineEdit* HtmlCanal::addBox(const QString& name, int maxLength)
{
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    if (maxLength > 0)
        box->setMaxLength(maxLength);
    box->installEventFilter(this);
    return box;
}

void HtmlCanal::buildControls()
{
    for (const LabelPlace& place : kLabels) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("Label1_") + QString::number(place.index));
        label->setGeometry(toPixels(place.rect, *this));
        m_labels.append(label);
    }
    m_txtDescr = addBox(QStringLiteral("txtDescr"), 50);
    m_txtWebPg = addBox(QStringLiteral("txtWebPg"), 100);
    m_txtIdent = addBox(QStringLiteral("txtIdent"), 40);
    m_txtInici = addBox(QStringLiteral("txtInici"), 20);
    m_txtLongi = addBox(QStringLiteral("txtLongi"), 20);
    m_txtOpera = addBox(QStringLiteral("txtOpera"), 0);
    m_txtEstac = addBox(QStringLiteral("txtEstac"), 0);
    m_txtMaqui = addBox(QStringLiteral("txtMaqui"), 0);
    m_txtProdu = addBox(QStringLiteral("txtProdu"), 0);
    m_txtForma = addBox(QStringLiteral("txtForma"), 0);
    m_txtCarac = addBox(QStringLiteral("txtCarac"), 0);
    // One character: the form assigns the clocks 0 to 9.
    m_txtReloj = addBox(QStringLiteral("txtReloj"), 1);

    const std::pair<QLineEdit*, TwipsRect> places[] = {
        {m_txtDescr, {1275, 75, 3900, 315}},   {m_txtWebPg, {1275, 435, 3900, 315}},
        {m_txtIdent, {1275, 795, 3900, 315}},  {m_txtInici, {1275, 1155, 1080, 315}},
        {m_txtLongi, {4095, 1155, 1080, 315}}, {m_txtOpera, {1275, 1620, 3900, 315}},
        {m_txtEstac, {1275, 1980, 3900, 315}}, {m_txtMaqui, {1275, 2340, 3900, 315}},
        {m_txtProdu, {1275, 2700, 3900, 315}}, {m_txtForma, {1275, 3060, 3900, 315}},
        {m_txtCarac, {1275, 3420, 3900, 315}}, {m_txtReloj, {5940, 3420, 510, 315}},
    };
    // The labels come in the order of their boxes: each one's mnemonic
    // takes the focus to its box.
    for (qsizetype i = 0; i < m_labels.size(); ++i) {
        const auto& [box, rect] = places[i];
        box->setGeometry(toPixels(rect, *this));
        m_labels[i]->setBuddy(box);
    }

    m_keyBoxes = {
        {m_txtOpera, PickerTable::USU}, {m_txtEstac, PickerTable::EXU},
        {m_txtMaqui, PickerTable::MXE}, {m_txtProdu, PickerTable::PXM},
        {m_txtForma, PickerTable::FXP}, {m_txtCarac, PickerTable::CXF},
    };

    m_cmdAceptar = new QPushButton(this);
    m_cmdAceptar->setObjectName(QStringLiteral("cmdAceptar"));
    m_cmdAceptar->setGeometry(toPixels({5400, 105, 1110, 435}, *this));
    // Enter saves, from any box (the buttons and the page box keep their
    // own Enter).
    m_cmdAceptar->setDefault(true);
    connect(m_cmdAceptar, &QPushButton::clicked, this, &HtmlCanal::cmdAceptar_Click);
    m_cmdCancelar = new QPushButton(this);
    m_cmdCancelar->setObjectName(QStringLiteral("cmdCancelar"));
    m_cmdCancelar->setGeometry(toPixels({5400, 615, 1110, 435}, *this));
    m_cmdCancelar->setAutoDefault(true);
    connect(m_cmdCancelar, &QPushButton::clicked, this, &HtmlCanal::cmdCancelar_Click);

    m_lblD1 = new QLabel(this);
    m_lblD1->setObjectName(QStringLiteral("lblD1"));
    m_lblD1->setGeometry(toPixels({165, 4035, 6300, 195}, *this));

    m_DBGrid1 = new QTableView(this);
    m_DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    m_DBGrid1->setGeometry(toPixels({120, 4320, 6435, 2895}, *this));
    m_DBGrid1->setModel(&m_pickers.model());
    // A read-only list: whole rows are picked, nothing is edited.
    m_DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_DBGrid1->setWordWrap(false);
    m_DBGrid1->verticalHeader()->setVisible(false);
    m_DBGrid1->verticalHeader()->setDefaultSectionSize(m_DBGrid1->fontMetrics().height() + 6);
    m_DBGrid1->horizontalHeader()->setHighlightSections(false);
    // Tab leaves the list for the next control rather than walk its cells.
    m_DBGrid1->setTabKeyNavigation(false);
    m_DBGrid1->installEventFilter(this);
    m_DBGrid1->viewport()->installEventFilter(this);
    connect(m_DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { gridRowChanged(current.row()); });

    m_previewPanel = new PreviewPanel(m_preview, this);
    m_previewPanel->setGeometry(toPixels(kPreviewRect, *this));
    connect(m_previewPanel, &PreviewPanel::reloadRequested, this,
            [this] { m_preview.load(m_txtWebPg->text()); });
    connect(m_previewPanel, &PreviewPanel::identifierPicked, this, [this](const QString& ident) {
        m_txtIdent->setText(ident);
        m_txtIdent->setFocus(Qt::OtherFocusReason);
    });

    m_addressPause = new QTimer(this);
    m_addressPause->setSingleShot(true);
    m_addressPause->setInterval(kAddressPauseMs);
    connect(m_addressPause, &QTimer::timeout, this, [this] { m_preview.load(m_txtWebPg->text()); });
    connect(m_txtWebPg, &QLineEdit::textEdited, m_addressPause, qOverload<>(&QTimer::start));
    for (QLineEdit* box : {m_txtIdent, m_txtInici, m_txtLongi})
        connect(box, &QLineEdit::textChanged, this, &HtmlCanal::showCutInPreview);

    setTabOrderWithGridAfter(nullptr);
    setFixedSize(toPixels({0, 0, kPreviewRect.right() + 120, kFormHeight}, *this).size());
    Prender(QStringLiteral("NINGUNO"));
}

void HtmlCanal::setCaptions()
{
    setWindowTitle(m_m.Mensajes(43, 26) + QLatin1Char(' ') + QString::number(PuertoConf));
    // Every caption gets a mnemonic of its own: the buttons first, then the
    // labels in the order of their boxes, then the preview's button. A label's
    // mnemonic takes the focus to its box.
    QList<QAbstractButton*> buttons{m_cmdAceptar, m_cmdCancelar};
    QStringList captions{m_m.Mensajes(0, 22), m_m.Mensajes(2, 4)};
    for (qsizetype i = 0; i < m_labels.size(); ++i)
        captions.append(m_m.Mensajes(kLabels[i].caption) + QLatin1Char(':'));
    captions.append(withoutMnemonic(m_previewPanel->reloadButton()->text()));
    const QStringList marked = withMnemonics(captions);
    m_cmdAceptar->setText(marked[0]);
    m_cmdCancelar->setText(marked[1]);
    for (qsizetype i = 0; i < m_labels.size(); ++i)
        m_labels[i]->setText(marked[2 + i]);
    m_previewPanel->reloadButton()->setText(marked.last());
}

bool HtmlCanal::Form_Load()
{
    if (!m_rsConf.rowOfPuert(PuertoConf)) {
        m_ui.mensaBox(errorReport(QStringLiteral("HtmlCanal. Form_Load."),
                                  Error{ErrorNumber::NoCurrentRecord, QStringLiteral("Telvar"),
                                        QStringLiteral("No current record: there is no "
                                                       "port ") +
                                            QString::number(PuertoConf) +
                                            QStringLiteral(" in the configuration to "
                                                           "edit")}),
                      BoxKind::Exclamation, 5);
        return false;
    }
    setCaptions();
    ActPant();
    m_loaded = boxes();
    showCutInPreview();
    m_preview.load(m_txtWebPg->text());
    Prender(QStringLiteral("NINGUNO"));
    m_txtDescr->setFocus(Qt::OtherFocusReason);
    return true;
}

void HtmlCanal::ActPant()
{
    const std::optional<int> row = m_rsConf.rowOfPuert(PuertoConf);
    const PortBoxes stored = row ? PortBoxes::fromRecord(m_rsConf.rowRecord(*row)) : PortBoxes{};
    m_txtDescr->setText(stored.Descr);
    m_txtWebPg->setText(stored.WebPg);
    m_txtIdent->setText(stored.Ident);
    m_txtInici->setText(stored.Inici);
    m_txtLongi->setText(stored.Longi);
    m_txtOpera->setText(stored.Opera);
    m_txtEstac->setText(stored.Estac);
    m_txtMaqui->setText(stored.Maqui);
    m_txtProdu->setText(stored.Produ);
    m_txtForma->setText(stored.Forma);
    m_txtCarac->setText(stored.Carac);
    m_txtReloj->setText(stored.Reloj);
}

void HtmlCanal::Prender(const QString& Seccion)
{
    if (Seccion == QLatin1String("NINGUNO")) {
        m_lblD1->setVisible(false);
        m_DBGrid1->setVisible(false);
    } else if (Seccion == QLatin1String("UNO")) {
        m_lblD1->setVisible(true);
        m_DBGrid1->setVisible(true);
    }
}

PortBoxes HtmlCanal::boxes() const
{
    return PortBoxes{m_txtDescr->text(), m_txtWebPg->text(), m_txtIdent->text(),
                     m_txtInici->text(), m_txtLongi->text(), m_txtOpera->text(),
                     m_txtEstac->text(), m_txtMaqui->text(), m_txtProdu->text(),
                     m_txtForma->text(), m_txtCarac->text(), m_txtReloj->text()};
}

void HtmlCanal::cmdAceptar_Click()
{
    if (m_save.cmdAceptar(PuertoConf, boxes()))
        accept();
}

void HtmlCanal::cmdCancelar_Click()
{
    QDialog::reject();
}

bool HtmlCanal::changed() const
{
    return boxes() != m_loaded;
}

void HtmlCanal::reject()
{
    if (changed() && !m_formUi.questionBox(ownText(OwnText::PortDiscardChanges, m_m.Idioma)))
        return;
    QDialog::reject();
}

bool HtmlCanal::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_DBGrid1 || watched == m_DBGrid1->viewport()) {
        // Only a person's move to a row fills the box: a click or a key
        // that moves in the list, never the row the grid makes current as
        // it takes the focus.
        switch (event->type()) {
        case QEvent::FocusIn:
            m_personMovesInGrid = false;
            break;
        case QEvent::MouseButtonPress:
            m_personMovesInGrid = true;
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            m_personMovesInGrid = key != Qt::Key_Tab && key != Qt::Key_Backtab;
            break;
        }
        default:
            break;
        }
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::FocusIn) {
        // Coming back to the form (after a box it showed, or from another
        // window) is not a box taking the focus.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            gotFocus(qobject_cast<QLineEdit*>(watched));
    }
    return QDialog::eventFilter(watched, event);
}

void HtmlCanal::gotFocus(QLineEdit* box)
{
    if (!box)
        return;
    for (const KeyBox& picker : std::as_const(m_keyBoxes)) {
        if (picker.box == box) {
            pickerGotFocus(picker);
            return;
        }
    }
    Prender(QStringLiteral("NINGUNO"));
}

void HtmlCanal::pickerGotFocus(const KeyBox& picker)
{
    m_gridFilling = true;
    const MasterPickers::Shown shown =
        m_pickers.focus(picker.table, boxes(), picker.box->objectName());
    QString heading = shown.heading;
    if (m_pickers.model().truncated())
        heading += ownText(OwnText::PickerRowCap, m_m.Idioma).arg(PickerModel::kMaxRows);
    m_lblD1->setText(heading);
    Prender(QStringLiteral("UNO"));

    // Each column as wide as its design, or as its caption when that is
    // wider (a narrow column would cut its caption, as "Posición" was).
    const QList<PickerColumn> columns = pickerColumns(picker.table);
    for (int c = 0; c < columns.size(); ++c)
        m_DBGrid1->setColumnWidth(c, std::max(twipsToPixels(columns[c].widthTwips, logicalDpiX()),
                                              m_DBGrid1->horizontalHeader()->sectionSizeHint(c)));
    setTabOrderWithGridAfter(picker.box);

    if (shown.selectedRow) {
        const QModelIndex found = m_pickers.model().index(*shown.selectedRow, 0);
        m_DBGrid1->setCurrentIndex(found);
        m_DBGrid1->scrollTo(found);
    } else {
        m_DBGrid1->selectionModel()->clear();
    }
    m_gridFilling = false;
}

void HtmlCanal::gridRowChanged(int row)
{
    if (m_gridFilling || !m_personMovesInGrid)
        return;
    const std::optional<PickerTable> active = m_pickers.TablaActiva();
    const std::optional<QString> text = m_pickers.pickedText(row);
    if (!active || !text)
        return;
    for (const KeyBox& picker : std::as_const(m_keyBoxes)) {
        if (picker.table == *active)
            picker.box->setText(*text);
    }
}

void HtmlCanal::setTabOrderWithGridAfter(QWidget* box)
{
    // The form's order: the page and its cut, the six keys, the clock, the
    // buttons, then the length; the grid follows the key box it lists for.
    QList<QWidget*> order{m_txtDescr, m_txtWebPg,   m_txtIdent,    m_txtInici, m_txtOpera,
                          m_txtEstac, m_txtMaqui,   m_txtProdu,    m_txtForma, m_txtCarac,
                          m_txtReloj, m_cmdAceptar, m_cmdCancelar, m_txtLongi};
    const qsizetype at = order.indexOf(box);
    if (at >= 0)
        order.insert(at + 1, m_DBGrid1);
    else
        order.append(m_DBGrid1);
    order.append(m_previewPanel->reloadButton());
    for (qsizetype i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

void HtmlCanal::showCutInPreview()
{
    m_preview.setCut(m_txtIdent->text(), m_txtInici->text(), m_txtLongi->text());
}

} // namespace telvar
