#include "app/widgets/Telvar.h"

#include "acquisition/HttpPageLoader.h"
#include "acquisition/SendRequest.h"
#include "app/widgets/GridLayouts.h"
#include "app/widgets/ReadingChart.h"
#include "common/ErrorNumbers.h"
#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "common/Twips.h"
#include "common/Version.h"
#include "config/ConfigTexts.h"
#include "config/widgets/TelvarConfig.h"
#include "database/LeeAnchos.h"
#include "dialogs/ExitAuthorization.h"
#include "dialogs/widgets/Salir.h"
#include "portform/widgets/HtmlCanal.h"
#include "status/widgets/PortStatusColumn.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace telvar {

namespace {

// A column as wide as its width in twips, but never narrower than its
// caption, which would otherwise be cut off.
int columnWidth(const QHeaderView& header, int logical, int widthTwips)
{
    const int pixels = twipsToPixels(widthTwips, header.logicalDpiX());
    return std::max(pixels, header.sectionSizeHint(logical));
}

QLabel* valueLabel(QWidget* parent, const char* name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(110);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // What a page gives is shown as it is, never read as markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The grid's editors as usual, telling when the person changes a cell's
// text (before anything is written).
class EditWatchingDelegate final : public QStyledItemDelegate {
public:
    EditWatchingDelegate(std::function<void()> edited, QObject* parent)
        : QStyledItemDelegate(parent), m_edited(std::move(edited))
    {
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* line = qobject_cast<QLineEdit*>(editor))
            QObject::connect(line, &QLineEdit::textEdited, editor, [this] { m_edited(); });
        else if (auto* spin = qobject_cast<QSpinBox*>(editor))
            QObject::connect(spin, &QSpinBox::textChanged, editor, [this, spin] {
                // Only the person's typing, not the editor being filled.
                if (spin->hasFocus())
                    m_edited();
            });
        return editor;
    }

private:
    std::function<void()> m_edited;
};

} // namespace

Telvar::Telvar(Modulo1& m, Interaccion& ui, Router& router, QWidget* parent)
    : QMainWindow(parent), m_m(m), m_ui(ui), m_router(router), m_history(router.readings()),
      m_runChooser([](TelvarConfig& chooser) { chooser.exec(); }),
      m_runPortForm([](HtmlCanal& form) { form.exec(); }),
      m_runExitDialog([](Salir& dialog) { dialog.exec(); })
{
    setObjectName(QStringLiteral("Telvar"));
    setWindowTitle(QStringLiteral("Ruteador Html -> Qualitra"));
    buildControls();
    connectAcquisition();
    setCaptions();
    layOutDatoFlexGrid();
    fitToScreen();
}

Telvar::~Telvar() = default;

void Telvar::buildControls()
{
    auto* central = new QWidget(this);
    setCentralWidget(central);

    m_cmdAbre = new QPushButton(central);
    m_cmdAbre->setObjectName(QStringLiteral("cmdAbre"));
    m_cmdConf = new QPushButton(central);
    m_cmdConf->setObjectName(QStringLiteral("cmdConf"));
    connect(m_cmdConf, &QPushButton::clicked, this, &Telvar::cmdConf_Click);
    m_bArchConf = new QPushButton(QStringLiteral("..."), central);
    m_bArchConf->setObjectName(QStringLiteral("bArchConf"));
    m_bArchConf->setMinimumWidth(140);
    connect(m_bArchConf, &QPushButton::clicked, this, &Telvar::bArchConf_Click);
    // Shows the page of the current port as the station serves it now.
    m_cmdHtml = new QPushButton(QStringLiteral("HTML"), central);
    m_cmdHtml->setObjectName(QStringLiteral("cmdHtml"));
    m_cmdHtml->setToolTip(ownText(OwnText::FetchPageTip, m_m.Idioma));
    connect(m_cmdHtml, &QPushButton::clicked, this, &Telvar::cmdHtml_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdAbre);
    buttons->addWidget(m_cmdConf);
    buttons->addWidget(m_bArchConf);
    buttons->addWidget(m_cmdHtml);
    buttons->addStretch(1);
    for (int i = 1; i <= 10; ++i) {
        auto* button = new QPushButton(QString::number(i), central);
        button->setObjectName(QStringLiteral("bReloj_") + QString::number(i));
        button->setEnabled(false);
        button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("10")) + 24);
        buttons->addWidget(button);
        m_bReloj[std::size_t(i)] = button;
    }

    m_SSTab1 = new QTabWidget(central);
    m_SSTab1->setObjectName(QStringLiteral("SSTab1"));

    // Tab 0: the configuration grid.
    m_DBGrid1 = new QTableView;
    m_DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    m_statusColumn =
        new PortStatusColumn(m_m, m_router.status().ports(), configDatabase().RsConf(), this);
    m_DBGrid1->setModel(m_statusColumn);
    m_DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_DBGrid1->setAlternatingRowColors(true);
    m_DBGrid1->setWordWrap(false);
    m_DBGrid1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_DBGrid1->verticalHeader()->setVisible(false);
    m_DBGrid1->verticalHeader()->setDefaultSectionSize(m_DBGrid1->fontMetrics().height() + 8);
    m_DBGrid1->horizontalHeader()->setHighlightSections(false);
    m_DBGrid1->setItemDelegate(new EditWatchingDelegate([this] { cellEdited(); }, m_DBGrid1));
    connect(m_DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &Telvar::currentRowChanged);
    m_SSTab1->addTab(m_DBGrid1, QString());

    const ConfigGridModel* grid = &configDatabase().RsConf();
    connect(grid, &QAbstractItemModel::modelAboutToBeReset, this, &Telvar::rememberCurrentPort);
    connect(grid, &QAbstractItemModel::modelReset, this, &Telvar::layOutDBGrid1);
    connect(grid, &ConfigGridModel::rowsRead, this, &Telvar::restoreCurrentPort);

    m_SSTab1->addTab(buildReadingsTab(), QString());

    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 6, 4, 2);
    layout->addLayout(buttons);
    layout->addWidget(m_SSTab1, 1);

    m_lblStatus = new QLabel(this);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    m_lblStatus->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(m_lblStatus, 1);
    m_lblRecording = new QLabel(this);
    m_lblRecording->setObjectName(QStringLiteral("lblRecording"));
    m_lblRecording->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(m_lblRecording);
}

QWidget* Telvar::buildReadingsTab()
{

    // The readings, the recording log and the page source.
    auto* tab = new QWidget;
    m_DatoFlexGrid = new QTableView(tab);
    m_DatoFlexGrid->setObjectName(QStringLiteral("DatoFlexGrid"));
    m_DatoFlexGrid->setModel(&readings());
    m_DatoFlexGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_DatoFlexGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_DatoFlexGrid->setWordWrap(false);
    m_DatoFlexGrid->verticalHeader()->setVisible(false);
    m_DatoFlexGrid->verticalHeader()->setDefaultSectionSize(m_DatoFlexGrid->fontMetrics().height() +
                                                            6);
    m_DatoFlexGrid->horizontalHeader()->setHighlightSections(false);
    // The newest reading, on top, is the current row.
    connect(&readings(), &QAbstractItemModel::rowsInserted, m_DatoFlexGrid,
            [this] { m_DatoFlexGrid->setCurrentIndex(readings().index(0, 0)); });

    m_txtGraba = new QPlainTextEdit(tab);
    m_txtGraba->setObjectName(QStringLiteral("txtGraba"));
    m_txtGraba->setReadOnly(true);
    m_txtGraba->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_txtGraba->setLineWrapMode(QPlainTextEdit::NoWrap);
    connect(&recordingLog(), &RecordingLog::lineAppended, this, &Telvar::showRecordingLog);
    m_txtGraba->installEventFilter(this);
    // Until its tab is first shown the box has no size of its own: its
    // preferred height stands in for it.
    fitRecordingLogTo(m_txtGraba->sizeHint().height());

    m_txtSource = new QPlainTextEdit(tab);
    m_txtSource->setObjectName(QStringLiteral("txtSource"));
    m_txtSource->setReadOnly(true);
    m_txtSource->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_lblDato = valueLabel(tab, "lblDato");
    QFont bold = m_lblDato->font();
    bold.setBold(true);
    m_lblDato->setFont(bold);
    m_lblFormato = valueLabel(tab, "lblFormato");
    m_lblMaquina = valueLabel(tab, "lblMaquina");
    m_lblProducto = valueLabel(tab, "lblProducto");
    auto* values = new QHBoxLayout;
    const std::pair<QLabel*, QString> rows[] = {
        {m_lblDato, m_m.Mensajes(76, 28)},
        {m_lblFormato, m_m.Mensajes(0, 20)},
        {m_lblMaquina, m_m.Mensajes(0, 18)},
        {m_lblProducto, m_m.Mensajes(0, 19)},
    };
    for (const auto& [value, title] : rows) {
        auto* label = new QLabel(title + QLatin1Char(':'), tab);
        label->setBuddy(value);
        values->addWidget(label);
        values->addWidget(value, 1);
        values->addSpacing(12);
    }

    // The readings that waiting cannot record, with their reasons.
    auto* quarantineBox = new QWidget(tab);
    m_quarantine = new QTableView(quarantineBox);
    m_quarantine->setObjectName(QStringLiteral("quarantine"));
    m_quarantine->setModel(&m_router.recording().quarantine());
    m_quarantine->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_quarantine->setWordWrap(false);
    m_quarantine->verticalHeader()->setVisible(false);
    m_quarantine->horizontalHeader()->setStretchLastSection(true);
    m_resend = new QPushButton(ownText(OwnText::ResendButton, m_m.Idioma), quarantineBox);
    m_resend->setObjectName(QStringLiteral("resendQuarantined"));
    m_resend->setToolTip(ownText(OwnText::ResendTip, m_m.Idioma));
    auto* quarantineLayout = new QHBoxLayout(quarantineBox);
    quarantineLayout->setContentsMargins(0, 0, 0, 0);
    quarantineLayout->addWidget(m_quarantine, 1);
    quarantineLayout->addWidget(m_resend, 0, Qt::AlignTop);

    // The chart of a port's readings beside the grid: a person's click (or
    // Enter) on a reading picks its port.
    m_chart = new ReadingChart(m_history, tab);
    m_chart->setMinimumWidth(280);
    connect(m_DatoFlexGrid, &QAbstractItemView::pressed, this, &Telvar::chartPortOf);
    connect(m_DatoFlexGrid, &QAbstractItemView::activated, this, &Telvar::chartPortOf);
    connect(&readings(), &ReadingsModel::readingAdded, m_chart, [this] {
        if (m_chart->port().isEmpty())
            chartPortOf(readings().index(0, 0));
    });
    auto* readingsAndChart = new QSplitter(Qt::Horizontal, tab);
    readingsAndChart->addWidget(m_DatoFlexGrid);
    readingsAndChart->addWidget(m_chart);
    readingsAndChart->setStretchFactor(0, 3);
    readingsAndChart->setStretchFactor(1, 2);
    readingsAndChart->setChildrenCollapsible(false);

    auto* splitter = new QSplitter(Qt::Vertical, tab);
    splitter->addWidget(readingsAndChart);
    splitter->addWidget(m_txtGraba);
    splitter->addWidget(quarantineBox);
    splitter->addWidget(m_txtSource);
    splitter->setStretchFactor(0, 5);
    splitter->setStretchFactor(1, 3);
    splitter->setStretchFactor(2, 1);
    splitter->setStretchFactor(3, 1);
    splitter->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(tab);
    layout->addLayout(values);
    layout->addWidget(splitter, 1);
    return tab;
}

void Telvar::chartPortOf(const QModelIndex& reading)
{
    if (!reading.isValid())
        return;
    const ReadingRow& row = readings().reading(reading.row());
    m_chart->showPort(row.tag, row.tag.trimmed() + QStringLiteral("  ") + row.Carac.trimmed() +
                                   QStringLiteral("  ") + row.Maquina.trimmed() +
                                   QStringLiteral(" / ") + row.Producto.trimmed());
}

void Telvar::connectAcquisition()
{
    Acquisition& acquisition = m_router.acquisition();
    connect(m_cmdAbre, &QPushButton::clicked, &m_router, &Router::pressStartStop);
    connect(&acquisition, &Acquisition::runningChanged, this, &Telvar::showRunning);
    connect(&acquisition, &Acquisition::startCompleted, this,
            [this] { m_SSTab1->setCurrentIndex(1); });
    connect(&acquisition, &Acquisition::clockButtonChanged, this,
            [this](int reloj, bool enabled) { m_bReloj[std::size_t(reloj)]->setEnabled(enabled); });
    for (int i = 1; i <= 10; ++i)
        connect(m_bReloj[std::size_t(i)], &QPushButton::clicked, &acquisition,
                [&acquisition, i] { acquisition.bReloj_Click(i); });
    connect(&acquisition.display(), &AcquisitionDisplay::textChanged, this,
            &Telvar::showDisplayText);
    connect(&m_router, &Router::programMustEnd, this, &Telvar::programMustEnd);
    RecordingService& recording = m_router.recording();
    connect(&recording, &RecordingService::statusChanged, this, &Telvar::showRecordingStatus);
    connect(m_resend, &QPushButton::clicked, &recording, &RecordingService::resendQuarantined);
    showRecordingStatus();
}

void Telvar::showRunning(bool running)
{
    m_cmdAbre->setText(
        m_m.Mensajes(running ? Message::StopAcquisition : Message::StartAcquisition));
    m_cmdAbre->setEnabled(true);
    m_cmdConf->setEnabled(!running);
    // Another configuration chosen while running would show ports that are
    // not the ones polled.
    m_bArchConf->setEnabled(!running);
    m_DBGrid1->setEditTriggers(running ? QAbstractItemView::NoEditTriggers
                                       : QAbstractItemView::DoubleClicked |
                                             QAbstractItemView::EditKeyPressed |
                                             QAbstractItemView::AnyKeyPressed);
}

void Telvar::showDisplayText(AcquisitionDisplay::Field field, const QString& text)
{
    using Field = AcquisitionDisplay::Field;
    switch (field) {
    case Field::lblStatus:
        setStatus(text);
        return;
    case Field::lblDato:
        m_lblDato->setText(text);
        return;
    case Field::lblFormato:
        m_lblFormato->setText(text);
        return;
    case Field::lblMaquina:
        m_lblMaquina->setText(text);
        return;
    case Field::lblProducto:
        m_lblProducto->setText(text);
        return;
    case Field::txtSource:
        // The display's text is a bounded excerpt of the page already.
        m_txtSource->setPlainText(text);
        return;
    }
}

void Telvar::showRecordingStatus()
{
    const RecordingService& recording = m_router.recording();
    const int idioma = m_m.Idioma;
    QStringList failing;
    for (const DestinationStatus& d : recording.destinations())
        if (d.failingSince.isValid())
            failing.append(ownText(OwnText::FailingSince, idioma)
                               .arg(d.place, d.failingSince.toString(QStringLiteral("HH:mm:ss")),
                                    d.lastError.description));
    QString text = ownText(OwnText::OutboxStatus, idioma)
                       .arg(recording.waiting())
                       .arg(recording.quarantinedCount());
    if (!recording.isOpen())
        text = ownText(OwnText::OutboxNotOpen, idioma);
    if (recording.isFull())
        text += ownText(OwnText::OutboxFullMark, idioma);
    if (!failing.isEmpty())
        text += ownText(OwnText::TablesFailing, idioma).arg(failing.size());
    if (recording.logUnwritable())
        text += ownText(OwnText::LogUnwritableMark, idioma);
    m_lblRecording->setText(text);
    m_lblRecording->setToolTip(failing.join(QLatin1Char('\n')));
    m_resend->setEnabled(recording.quarantinedCount() > 0);
}

void Telvar::setStatus(const QString& text)
{
    m_lblStatus->setText(text);
    // Shown at once, also when the thread is about to block.
    m_lblStatus->repaint();
}

void Telvar::cellEdited()
{
    // A row being edited must be left (and so written) before the
    // acquisition starts or the port form opens.
    m_cmdConf->setEnabled(false);
    m_cmdAbre->setEnabled(false);
}

void Telvar::currentRowChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (acquisition().isRunning() || current.row() == previous.row())
        return;
    m_cmdConf->setEnabled(true);
    m_cmdAbre->setEnabled(true);
}

void Telvar::cmdHtml_Click()
{
    const QModelIndex current = m_DBGrid1->currentIndex();
    if (!current.isValid())
        return;
    const QString page = SendRequest(configDatabase().RsConf().row(current.row()).WebPg);
    acquisition().display().setText(AcquisitionDisplay::Field::txtSource, pageExcerpt(page));
    m_SSTab1->setCurrentIndex(1);
}

QString Telvar::SendRequest(const QString& strURL)
{
    const SendRequestResult result = sendRequest(strURL, [this](const QString& status) {
        // One path writes the status line, so that it always shows the
        // latest text, whoever wrote the one before.
        acquisition().display().setText(AcquisitionDisplay::Field::lblStatus, status);
    });
    if (result.error) {
        m_ui.setMousePointer(PointerShape::Default);
        m_ui.messageBox(sendRequestReport(strURL, result), BoxKind::Critical);
    }
    return result.text;
}

void Telvar::cmdConf_Click()
{
    if (acquisition().isRunning())
        return;
    m_SSTab1->setCurrentIndex(0);
    ConfigGridModel& grid = configDatabase().RsConf();
    const QModelIndex current = m_DBGrid1->currentIndex();
    if (!current.isValid()) {
        m_ui.mensaBox(errorReport(QStringLiteral("Telvar. cmdConf."),
                                  Error{ErrorNumber::NoCurrentRecord, QStringLiteral("Telvar"),
                                        QStringLiteral("No current record: no port is "
                                                       "selected in the configuration")}),
                      BoxKind::Exclamation, 5);
        return;
    }
    {
        HtmlCanal form(m_m, m_ui, grid, m_router.pageLoader(), this);
        form.PuertoConf = grid.row(current.row()).Puert;
        if (!form.Form_Load())
            return;
        m_runPortForm(form);
    }
    // The grid returns to the port it was on (rememberCurrentPort and
    // restoreCurrentPort follow the re-binding), wherever the edit moved it.
    if (Reinicia() == ReiniciaOutcome::EndProgram)
        emit programMustEnd();
}

void Telvar::setPortFormRunner(PortFormRunner runner)
{
    m_runPortForm = std::move(runner);
}

bool Telvar::Form_QueryUnload(UnloadMode mode)
{
    if (mode == UnloadMode::FormControlMenu) {
        if (m_exitBeingChecked)
            return true;
        m_exitBeingChecked = true;
        bool accepted = false;
        {
            Salir dialog(this);
            dialog.Leyenda = m_m.Mensajes(43, 28);
            dialog.Form_Load();
            m_runExitDialog(dialog);
            if (!dialog.Cancelar)
                accepted = configuratorPasswordMatches(m_m, m_ui, dialog.TryPass);
        }
        m_exitBeingChecked = false;
        if (!accepted)
            return true;
    }
    // The program ends: no cycle may start on the closed rows meanwhile.
    if (acquisition().isRunning())
        acquisition().cmdAbre_Click();
    configDatabase().RsConf().unbind();
    return false;
}

void Telvar::setExitDialogRunner(ExitDialogRunner runner)
{
    m_runExitDialog = std::move(runner);
}

void Telvar::closeEvent(QCloseEvent* event)
{
    // Only a close that comes from the window system is the person's; the
    // program's own closes (close(), the application's quit) are not
    // spontaneous, and a close while the session is saving is the log-out.
    UnloadMode mode = UnloadMode::FormCode;
    if (qGuiApp && qGuiApp->isSavingSession())
        mode = UnloadMode::AppWindows;
    else if (event->spontaneous())
        mode = UnloadMode::FormControlMenu;
    event->setAccepted(!Form_QueryUnload(mode));
}

void Telvar::setChooserRunner(ChooserRunner runner)
{
    m_runChooser = std::move(runner);
}

bool Telvar::Form_Load()
{
    setWindowTitle(telvarCaption(m_m.Mensajes(76, 0), version::kMajor, version::kRevision));
    // The key widths that Reinicia checks the configuration against.
    if (!LeeAnchos(m_m, m_ui))
        return false;
    if (Reinicia() == ReiniciaOutcome::EndProgram)
        return false;
    layOutDatoFlexGrid();
    return true;
}

ReiniciaOutcome Telvar::Reinicia()
{
    const ReiniciaOutcome result = configDatabase().Reinicia();
    if (result == ReiniciaOutcome::Done) {
        m_bArchConf->setText(configDatabase().archConfCaption());
        m_bArchConf->setToolTip(m_m.RutaConf);
        setCaptions();
        layOutDBGrid1();
    }
    return result;
}

void Telvar::bArchConf_Click()
{
    TelvarConfig chooser(m_m, m_ui, this);
    m_runChooser(chooser);
    if (Reinicia() == ReiniciaOutcome::EndProgram)
        emit programMustEnd();
}

void Telvar::setCaptions()
{
    m_cmdAbre->setText(m_m.Mensajes(acquisition().isRunning() ? Message::StopAcquisition
                                                              : Message::StartAcquisition));
    m_cmdConf->setText(m_m.Mensajes(76, 4));
    m_SSTab1->setTabText(0, m_m.Mensajes(76, 5));
    m_SSTab1->setTabText(1, m_m.Mensajes(76, 6));
    for (int i = 1; i <= 10; ++i)
        m_bReloj[std::size_t(i)]->setToolTip(m_m.Mensajes(76, 8) + QLatin1Char(' ') +
                                             QString::number(i));
}

void Telvar::layOutDBGrid1()
{
    ConfigGridModel& grid = configDatabase().RsConf();
    QHash<QString, QString> captions;
    for (const ConfigGridColumn& column : kConfigGridColumns)
        captions.insert(QLatin1String(column.field), m_m.Mensajes(column.caption));
    grid.setCaptions(captions);

    QHeaderView* header = m_DBGrid1->horizontalHeader();
    // Columns the layout does not name (the clock's Clave among them) stay hidden.
    for (int c = 0; c < grid.columnCount(); ++c)
        m_DBGrid1->setColumnHidden(c, true);
    int visual = 0;
    for (const ConfigGridColumn& column : kConfigGridColumns) {
        const int logical = grid.columnOf(QLatin1String(column.field));
        if (logical < 0)
            continue;
        m_DBGrid1->setColumnHidden(logical, false);
        header->moveSection(header->visualIndex(logical), visual++);
        m_DBGrid1->setColumnWidth(logical, columnWidth(*header, logical, column.widthTwips));
    }
    // The port's status right after its number.
    const int status = m_statusColumn->statusColumn();
    m_DBGrid1->setColumnHidden(status, false);
    header->moveSection(header->visualIndex(status), std::min(1, visual));
    m_DBGrid1->setColumnWidth(status, statusColumnWidth());
}

int Telvar::statusColumnWidth() const
{
    // Wide enough for its caption and for the longest state's name.
    const QFontMetrics metrics = m_DBGrid1->fontMetrics();
    int width = m_DBGrid1->horizontalHeader()->fontMetrics().horizontalAdvance(
        ownText(OwnText::StatusColumn, m_m.Idioma));
    for (PortState state : {PortState::Ok, PortState::Late, PortState::Failing, PortState::Stopped})
        width = std::max(width, metrics.horizontalAdvance(portStateText(state, m_m.Idioma)));
    return width + 24;
}

void Telvar::layOutDatoFlexGrid()
{
    // Headers come from the message table, which Form_Load may have read anew.
    readings().refreshHeaders();
    const QHeaderView* header = m_DatoFlexGrid->horizontalHeader();
    for (int c = 0; c < readings().columnCount(); ++c) {
        const ReadingsColumnWidth& width = kReadingsColumnWidths[std::size_t(c)];
        int pixels = columnWidth(*header, c, width.widthTwips);
        if (width.sample)
            pixels = std::max(
                pixels,
                m_DatoFlexGrid->fontMetrics().horizontalAdvance(QLatin1String(width.sample)) + 16);
        m_DatoFlexGrid->setColumnWidth(c, pixels);
    }
}

void Telvar::showRecordingLog()
{
    m_txtGraba->setPlainText(recordingLog().lines().join(QLatin1Char('\n')));
    m_txtGraba->repaint();
}

bool Telvar::eventFilter(QObject* watched, QEvent* event)
{
    // The log keeps as many lines as its box shows, however the window or
    // the splitter sizes it.
    if (watched == m_txtGraba && event->type() == QEvent::Resize)
        fitRecordingLogTo(m_txtGraba->height());
    return QMainWindow::eventFilter(watched, event);
}

void Telvar::fitRecordingLogTo(int heightPixels)
{
    recordingLog().setCapacity(
        RecordingLog::capacityForHeight(pixelsToTwips(heightPixels, m_txtGraba->logicalDpiY())));
}

void Telvar::rememberCurrentPort()
{
    // A re-binding empties the grid before it fills it again: the port
    // remembered before the first of the two resets is the one to return to.
    const QModelIndex current = m_DBGrid1->currentIndex();
    if (!current.isValid())
        return;
    m_currentPuert = configDatabase().RsConf().row(current.row()).Puert;
    m_currentColumn = current.column();
}

void Telvar::restoreCurrentPort()
{
    const ConfigGridModel& grid = configDatabase().RsConf();
    if (!m_currentPuert || grid.rowCount() == 0)
        return;
    const std::optional<int> row = grid.rowOfPuert(*m_currentPuert);
    if (row)
        m_DBGrid1->setCurrentIndex(m_statusColumn->index(*row, m_currentColumn));
    m_currentPuert.reset();
}

void Telvar::fitToScreen()
{
    // Wide enough for the whole configuration grid where the screen allows
    // (each column as the grid will lay it out: its width in twips, or its
    // caption's); a narrower screen scrolls the grid sideways.
    const QHeaderView* header = m_DBGrid1->horizontalHeader();
    const int headerMargin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 4;
    int width = 0;
    for (const ConfigGridColumn& column : kConfigGridColumns) {
        const int caption =
            header->fontMetrics().horizontalAdvance(m_m.Mensajes(column.caption)) + headerMargin;
        width += std::max(twipsToPixels(column.widthTwips, logicalDpiX()), caption);
    }
    width += statusColumnWidth();
    // The grid's frame and the window's margins around the tab page.
    width += 2 * m_DBGrid1->frameWidth() + 2 * 4 + 2 * 6 + 6;
    int height = 720;
    if (const QScreen* screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        width = std::min(width, available.width() - 8);
        height = std::min(height, available.height() - 60);
    }
    resize(width, height);
}

} // namespace telvar
