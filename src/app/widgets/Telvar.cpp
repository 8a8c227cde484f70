#include "app/widgets/Telvar.h"

#include "acquisition/HttpPageLoader.h"
#include "acquisition/PortOutcome.h"
#include "acquisition/SendRequest.h"
#include "app/widgets/ColumnFit.h"
#include "app/widgets/GridLayouts.h"
#include "app/widgets/ReadingChart.h"
#include "app/widgets/ReadingsFollow.h"
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
#include "portform/PortPreview.h"
#include "portform/widgets/HtmlCanal.h"
#include "recording/ReadingRecorder.h"
#include "status/RouterStatus.h"
#include "status/widgets/PortStatusColumn.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTime>
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

// The chart's title for a port: its tag, characteristic, machine and product.
QString chartTitle(const QString& tag, const QString& carac, const QString& maquina,
                   const QString& producto)
{
    return tag.trimmed() + QStringLiteral("  ") + carac.trimmed() + QStringLiteral("  ") +
           maquina.trimmed() + QStringLiteral(" / ") + producto.trimmed();
}

// Tells when an editor is shown and hidden: the grid hides an editor as it
// closes it (written or cancelled), before deleting it later.
class EditorVisibility final : public QObject {
public:
    EditorVisibility(std::function<void(bool)> shown, QObject* editor)
        : QObject(editor), m_shown(std::move(shown))
    {
        editor->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
            m_shown(event->type() == QEvent::Show);
        return false;
    }

private:
    std::function<void(bool)> m_shown;
};

// The grid's editors as usual, telling when one opens and closes, and
// which cell is about to be written (before anything is).
class EditWatchingDelegate final : public QStyledItemDelegate {
public:
    struct Hooks {
        std::function<void()> opened;
        std::function<void()> closed;
        std::function<void(const QModelIndex&)> aboutToWrite;
    };

    EditWatchingDelegate(Hooks hooks, QObject* parent)
        : QStyledItemDelegate(parent), m_hooks(std::move(hooks))
    {
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (!editor)
            return nullptr;
        // The editor may outlive the delegate (both go with the grid).
        new EditorVisibility(
            [delegate = QPointer<const EditWatchingDelegate>(this)](bool shown) {
                if (!delegate)
                    return;
                if (shown)
                    delegate->m_hooks.opened();
                else
                    delegate->m_hooks.closed();
            },
            editor);
        m_hooks.opened();
        return editor;
    }

    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override
    {
        m_hooks.aboutToWrite(index);
        QStyledItemDelegate::setModelData(editor, model, index);
    }

private:
    Hooks m_hooks;
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
    showRunning(acquisition().isRunning());
}

Telvar::~Telvar()
{
    // The grid's editors and their delegate go with the window's children,
    // in an order of Qt's: none of them may call back into a window being
    // taken apart.
    QAbstractItemDelegate* delegate = m_DBGrid1->itemDelegate();
    m_DBGrid1->setItemDelegate(nullptr);
    delete delegate;
    m_DBGrid1->removeEventFilter(this);
    m_readingsAndChart->removeEventFilter(this);
    m_txtGraba->removeEventFilter(this);
    // What watches the grids goes before them.
    delete m_readingsFollow;
    delete m_readingsFit;
    delete m_configFit;
}

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
    connect(&m_router.pageLoader(), &PageLoader::pageLoaded, this, &Telvar::pageFetched);
    // Takes back the newest change typed into the grid.
    m_cmdUndo = new QPushButton(ownText(OwnText::UndoButton, m_m.Idioma), central);
    m_cmdUndo->setObjectName(QStringLiteral("cmdUndo"));
    m_cmdUndo->setEnabled(false);
    connect(m_cmdUndo, &QPushButton::clicked, this, &Telvar::undoGridEdit);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdAbre);
    buttons->addWidget(m_cmdConf);
    buttons->addWidget(m_bArchConf);
    buttons->addWidget(m_cmdHtml);
    buttons->addWidget(m_cmdUndo);
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
    // A cell is edited only on purpose: F2, a double click or Enter (a
    // stray key does nothing); Escape cancels. Tab leaves the grid.
    m_DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_DBGrid1->setTabKeyNavigation(false);
    m_DBGrid1->installEventFilter(this);
    m_DBGrid1->setItemDelegate(
        new EditWatchingDelegate({[this] { editorOpened(); }, [this] { editorClosed(); },
                                  [this](const QModelIndex& index) { aboutToWriteCell(index); }},
                                 m_DBGrid1));
    auto* undo = new QShortcut(QKeySequence::Undo, m_DBGrid1, this, &Telvar::undoGridEdit,
                               Qt::WidgetShortcut);
    undo->setObjectName(QStringLiteral("undoShortcut"));
    m_configFit = new ColumnFit(*m_DBGrid1, ColumnFit::Floor::Caption, this);
    connect(m_DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &Telvar::currentRowChanged);
    m_SSTab1->addTab(m_DBGrid1, QString());

    const ConfigGridModel* grid = &configDatabase().RsConf();
    connect(grid, &QAbstractItemModel::modelAboutToBeReset, this, &Telvar::rememberCurrentPort);
    connect(grid, &QAbstractItemModel::modelReset, this, &Telvar::layOutDBGrid1);
    connect(grid, &ConfigGridModel::rowsRead, this, &Telvar::restoreCurrentPort);
    connect(grid, &ConfigGridModel::fieldWritten, this, &Telvar::cellWritten);

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
    // The newest reading, on top, is the current row while the person
    // looks at the top; an older reading the person picked stays put.
    auto* newReadings = new QPushButton(tab);
    newReadings->setObjectName(QStringLiteral("newReadings"));
    newReadings->setToolTip(ownText(OwnText::NewReadingsTip, m_m.Idioma));
    m_readingsFollow = new ReadingsFollow(*m_DatoFlexGrid, *newReadings, this);
    m_readingsFit = new ColumnFit(*m_DatoFlexGrid, ColumnFit::Floor::FewCharacters, this);

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
    // Which port's page the box shows, and since when.
    auto* pageBox = new QWidget(tab);
    m_pageOf = new QLabel(pageBox);
    m_pageOf->setObjectName(QStringLiteral("pageOf"));
    m_pageOf->setTextFormat(Qt::PlainText);
    m_pageFollow = new QPushButton(ownText(OwnText::PageFollowCycles, m_m.Idioma), pageBox);
    m_pageFollow->setObjectName(QStringLiteral("pageFollow"));
    m_pageFollow->hide();
    connect(m_pageFollow, &QPushButton::clicked, this, [this] {
        // Back to the cycles' pages, starting with the latest one.
        m_pagePinned = false;
        m_pageFollow->hide();
        m_txtSource->setPlainText(
            acquisition().display().text(AcquisitionDisplay::Field::txtSource));
        m_pageOf->setText(m_cyclePageOf);
    });
    auto* pageHeader = new QHBoxLayout;
    pageHeader->addWidget(m_pageOf, 1);
    pageHeader->addWidget(m_pageFollow);
    auto* pageLayout = new QVBoxLayout(pageBox);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(2);
    pageLayout->addLayout(pageHeader);
    pageLayout->addWidget(m_txtSource, 1);

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
    values->addWidget(newReadings);

    // The readings that waiting cannot record, with their reasons.
    auto* quarantineBox = new QWidget(tab);
    m_quarantine = new QTableView(quarantineBox);
    m_quarantine->setObjectName(QStringLiteral("quarantine"));
    m_quarantine->setModel(&m_router.recording().quarantine());
    m_quarantine->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_quarantine->setWordWrap(false);
    m_quarantine->verticalHeader()->setVisible(false);
    m_quarantine->horizontalHeader()->setStretchLastSection(true);
    // Every column at least as wide as its caption.
    m_quarantine->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_quarantine->horizontalHeader()->setResizeContentsPrecision(50);
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
    m_chart->setIdioma(m_m.Idioma);
    m_chart->setMinimumWidth(200);
    const auto picked = [this](const QModelIndex& reading) {
        m_chartPicked = true;
        chartPortOf(reading);
    };
    connect(m_DatoFlexGrid, &QAbstractItemView::pressed, this, picked);
    connect(m_DatoFlexGrid, &QAbstractItemView::activated, this, picked);
    m_readingsAndChart = new QSplitter(Qt::Horizontal, tab);
    m_readingsAndChart->setObjectName(QStringLiteral("readingsAndChart"));
    m_readingsAndChart->addWidget(m_DatoFlexGrid);
    m_readingsAndChart->addWidget(m_chart);
    // A narrower window takes its width from the chart first, so that the
    // readings' key columns stay in view.
    m_readingsAndChart->setStretchFactor(0, 0);
    m_readingsAndChart->setStretchFactor(1, 1);
    m_readingsAndChart->setChildrenCollapsible(false);
    m_readingsAndChart->installEventFilter(this);
    connect(m_readingsAndChart, &QSplitter::splitterMoved, this,
            [this] { m_readingsSplitByPerson = true; });

    // The readings and the chart take what the window grows by; the log,
    // the quarantine and the page keep the few lines they were given.
    m_readingsSplitter = new QSplitter(Qt::Vertical, tab);
    m_readingsSplitter->setObjectName(QStringLiteral("readingsSplitter"));
    m_readingsSplitter->addWidget(m_readingsAndChart);
    m_readingsSplitter->addWidget(m_txtGraba);
    m_readingsSplitter->addWidget(quarantineBox);
    m_readingsSplitter->addWidget(pageBox);
    m_readingsSplitter->setStretchFactor(0, 1);
    for (int i = 1; i < 4; ++i)
        m_readingsSplitter->setStretchFactor(i, 0);
    m_readingsSplitter->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(tab);
    layout->addLayout(values);
    layout->addWidget(m_readingsSplitter, 1);
    return tab;
}

void Telvar::chartPortOf(const QModelIndex& reading)
{
    if (!reading.isValid())
        return;
    const ReadingRow& row = readings().reading(reading.row());
    m_chart->showPort(row.tag, chartTitle(row.tag, row.Carac, row.Maquina, row.Producto));
}

void Telvar::followGridPortInChart()
{
    // Until the person picks a reading, the chart shows the port chosen in
    // the configuration grid (the first one at start), never whichever port
    // happened to report first.
    if (m_chartPicked)
        return;
    const QModelIndex current = m_DBGrid1->currentIndex();
    if (!current.isValid()) {
        m_chart->showPort(QString(), QString());
        return;
    }
    const ConfigRow row = configDatabase().RsConf().row(current.row());
    const QString tag = ReadingRecorder::displayTag(row.Reloj, row.Puert);
    m_chart->showPort(tag, chartTitle(tag, row.Carac, row.Maqui, row.Produ));
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
    connect(&acquisition, &Acquisition::portHandled, this, &Telvar::showPortOutcome);
    connect(m_resend, &QPushButton::clicked, &recording, &RecordingService::resendQuarantined);
    showRecordingStatus();
}

void Telvar::showRunning(bool running)
{
    m_cmdAbre->setText(
        m_m.Mensajes(running ? Message::StopAcquisition : Message::StartAcquisition));
    m_cmdAbre->setEnabled(!m_editing);
    m_cmdConf->setEnabled(!running && !m_editing);
    // Another configuration chosen while running would show ports that are
    // not the ones polled.
    m_bArchConf->setEnabled(!running);
    m_DBGrid1->setEditTriggers(running ? QAbstractItemView::NoEditTriggers
                                       : QAbstractItemView::DoubleClicked |
                                             QAbstractItemView::EditKeyPressed);
    showUndo();
    // What the status line said belongs to the run that ended.
    if (!running)
        setStatus(QString());
}

void Telvar::showDisplayText(AcquisitionDisplay::Field field, const QString& text)
{
    using Field = AcquisitionDisplay::Field;
    switch (field) {
    case Field::lblStatus:
        // The status line says what became of each port (showPortOutcome);
        // the cycle's progress texts would hide it.
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
        // A page fetched with the HTML button stays until the person lets
        // the box follow the cycles again. The display's text is a bounded
        // excerpt of the page already.
        if (!m_pagePinned)
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
    // Painted with the window's next update: a cycle of many ports writes
    // it once per port, and only the last of a turn needs to be seen.
    m_lblStatus->setText(text);
}

void Telvar::editorOpened()
{
    // The cell being edited must be written (Enter, or leaving it) or
    // cancelled (Escape) before the acquisition starts or the port form
    // opens; the buttons say so.
    m_editing = true;
    const QString why = ownText(OwnText::EditOpenTip, m_m.Idioma);
    for (QPushButton* button : {m_cmdAbre, m_cmdConf}) {
        button->setEnabled(false);
        button->setToolTip(why);
    }
    showUndo();
}

void Telvar::editorClosed()
{
    m_editing = false;
    for (QPushButton* button : {m_cmdAbre, m_cmdConf})
        button->setToolTip(QString());
    showRunning(acquisition().isRunning());
}

void Telvar::aboutToWriteCell(const QModelIndex& index)
{
    const QModelIndex source = m_statusColumn->mapToSource(index);
    const ConfigGridModel& grid = configDatabase().RsConf();
    if (!source.isValid())
        return;
    m_pendingChange =
        GridEditUndo::Change{grid.row(source.row()).Puert, grid.record().fieldName(source.column()),
                             grid.data(source, Qt::EditRole)};
}

void Telvar::cellWritten(int puert, const QString& field)
{
    if (m_pendingChange && m_pendingChange->puert == puert &&
        m_pendingChange->field.compare(field, Qt::CaseInsensitive) == 0)
        m_undo.remember(*m_pendingChange);
    m_pendingChange.reset();
    showUndo();
}

void Telvar::showUndo()
{
    const bool can = m_undo.canUndo() && !acquisition().isRunning() && !m_editing;
    m_cmdUndo->setEnabled(can);
    if (!m_undo.canUndo()) {
        m_cmdUndo->setToolTip(QString());
        return;
    }
    const GridEditUndo::Change& last = m_undo.last();
    m_cmdUndo->setToolTip(ownText(OwnText::UndoTip, m_m.Idioma)
                              .arg(last.field)
                              .arg(last.puert)
                              .arg(last.before.toString()));
}

void Telvar::undoGridEdit()
{
    if (!m_undo.canUndo() || acquisition().isRunning() || m_editing)
        return;
    if (Status undone = m_undo.undo(configDatabase().RsConf()); !undone)
        m_ui.mensaBox(errorReport(QStringLiteral("Telvar. DBGrid1."), undone.error()),
                      BoxKind::Exclamation, 5);
    showUndo();
}

void Telvar::currentRowChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (current.row() != previous.row())
        followGridPortInChart();
}

void Telvar::cmdHtml_Click()
{
    if (m_htmlTicket != 0)
        return;
    const QModelIndex current = m_DBGrid1->currentIndex();
    if (!current.isValid())
        return;
    const ConfigRow row = configDatabase().RsConf().row(current.row());
    m_htmlPuert = row.Puert;
    m_htmlTicket = m_router.pageLoader().load(row.WebPg);
    m_cmdHtml->setEnabled(false);
    setStatus(ownText(OwnText::FetchingPage, m_m.Idioma)
                  .arg(m_htmlPuert)
                  .arg(maskUrlPassword(row.WebPg)));
}

void Telvar::pageFetched(PageLoader::Ticket ticket, const LoadedPage& page)
{
    if (ticket != m_htmlTicket || ticket == 0)
        return;
    m_htmlTicket = 0;
    m_cmdHtml->setEnabled(true);
    const QString at = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    const QString how = pageOutcomeText(page, m_m.Idioma);
    setStatus(ownText(OwnText::StatusLinePort, m_m.Idioma).arg(at).arg(m_htmlPuert).arg(how));
    m_pagePinned = true;
    m_pageFollow->show();
    m_txtSource->setPlainText(pageExcerpt(page.text));
    m_pageOf->setText(ownText(OwnText::PageOfHtml, m_m.Idioma).arg(m_htmlPuert).arg(at));
    m_SSTab1->setCurrentIndex(1);
}

QString Telvar::portOutcomeText(const PortOutcome& outcome) const
{
    const int idioma = m_m.Idioma;
    if (outcome.result != PortOutcome::Result::Read) {
        const ConfigGridModel& grid = m_router.configDatabase().RsConf();
        const std::optional<int> row = grid.rowOfPuert(outcome.Puert);
        return portFailureText(outcome, row ? grid.row(*row).Ident : QString(), idioma);
    }
    // The reading has just been added to the grid, on top.
    const bool outside = m_router.readings().rowCount() > 0 &&
                         m_router.readings().reading(0).tag ==
                             ReadingRecorder::displayTag(outcome.reloj, outcome.Puert) &&
                         !m_router.readings().reading(0).Marca.isEmpty();
    return ownText(outside ? OwnText::StatusLineOutside : OwnText::StatusLineRead, idioma)
        .arg(outcome.reading.trimmed());
}

void Telvar::showPortOutcome(const PortOutcome& outcome)
{
    const QString at = outcome.at.isValid()
                           ? outcome.at.toLocalTime().toString(QStringLiteral("HH:mm:ss"))
                           : QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    setStatus(ownText(OwnText::StatusLinePort, m_m.Idioma)
                  .arg(at)
                  .arg(outcome.Puert)
                  .arg(portOutcomeText(outcome)));
    if (outcome.page != PageOutcome::Complete && outcome.page != PageOutcome::Truncated)
        return;
    m_cyclePageOf = ownText(OwnText::PageOfCycle, m_m.Idioma).arg(outcome.Puert).arg(at);
    if (!m_pagePinned)
        m_pageOf->setText(m_cyclePageOf);
}

void Telvar::cmdConf_Click()
{
    if (acquisition().isRunning())
        return;
    m_SSTab1->setCurrentIndex(0);
    ConfigGridModel& grid = configDatabase().RsConf();
    // Without a current port there is nothing to edit.
    const QModelIndex current = m_DBGrid1->currentIndex();
    if (!current.isValid())
        return;
    {
        HtmlCanal form(m_m, m_ui, grid, m_router.pageLoader(), this);
        form.PuertoConf = grid.row(current.row()).Puert;
        if (!form.Form_Load())
            return;
        m_runPortForm(form);
    }
    // The form may have changed what the grid's changes were made to.
    m_undo.forget();
    showUndo();
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
    const bool closing = !Form_QueryUnload(mode);
    if (closing)
        saveLayout();
    event->setAccepted(closing);
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
        // The person's splitters and widths, once the columns are laid out.
        restoreLayout();
    }
    return result;
}

void Telvar::bArchConf_Click()
{
    TelvarConfig chooser(m_m, m_ui, this);
    m_runChooser(chooser);
    m_undo.forget();
    showUndo();
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
    QHash<int, int> natural;
    QList<int> flexible;
    for (const ConfigGridColumn& column : kConfigGridColumns) {
        const int logical = grid.columnOf(QLatin1String(column.field));
        if (logical < 0)
            continue;
        m_DBGrid1->setColumnHidden(logical, false);
        header->moveSection(header->visualIndex(logical), visual++);
        natural.insert(logical, columnWidth(*header, logical, column.widthTwips));
        // The long texts take what a wide window offers, and give way first.
        if (isFlexibleConfigColumn(column.field))
            flexible.append(logical);
    }
    // The port's status right after its number.
    const int status = m_statusColumn->statusColumn();
    m_DBGrid1->setColumnHidden(status, false);
    header->moveSection(header->visualIndex(status), std::min(1, visual));
    natural.insert(status, statusColumnWidth());
    m_configFit->setNatural(natural, flexible);
}

int Telvar::statusColumnWidth() const
{
    // Wide enough for its caption and for the longest state's name.
    const QFontMetrics metrics = m_DBGrid1->fontMetrics();
    int width = m_DBGrid1->horizontalHeader()->fontMetrics().horizontalAdvance(
        ownText(OwnText::StatusColumn, m_m.Idioma));
    for (PortState state : kAllPortStates)
        width = std::max(width, metrics.horizontalAdvance(portStateText(state, m_m.Idioma)));
    return width + 24;
}

void Telvar::layOutDatoFlexGrid()
{
    // Headers come from the message table, which Form_Load may have read anew.
    readings().refreshHeaders();
    const QHeaderView* header = m_DatoFlexGrid->horizontalHeader();
    QHash<int, int> natural;
    QList<int> flexible;
    for (int c = 0; c < readings().columnCount(); ++c) {
        const ReadingsColumnWidth& width = kReadingsColumnWidths[std::size_t(c)];
        int pixels = columnWidth(*header, c, width.widthTwips);
        if (width.sample)
            pixels = std::max(
                pixels,
                m_DatoFlexGrid->fontMetrics().horizontalAdvance(QLatin1String(width.sample)) + 16);
        natural.insert(c, pixels);
        if (width.flexible)
            flexible.append(c);
    }
    m_readingsFit->setNatural(natural, flexible);
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
    if (watched == m_readingsAndChart && event->type() == QEvent::Resize)
        splitReadingsAndChart();
    if (watched == m_DBGrid1 && event->type() == QEvent::KeyPress &&
        gridKeyPressed(static_cast<QKeyEvent*>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool Telvar::gridKeyPressed(QKeyEvent* event)
{
    // Enter opens the current cell's editor, as F2 does (while editing,
    // the editor has the keys and Enter writes the cell).
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
        return false;
    if (m_DBGrid1->editTriggers() == QAbstractItemView::NoEditTriggers || m_editing)
        return false;
    const QModelIndex current = m_DBGrid1->currentIndex();
    if (!current.isValid() || !(current.flags() & Qt::ItemIsEditable))
        return false;
    m_DBGrid1->edit(current);
    return true;
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
    if (!m_currentPuert || grid.rowCount() == 0) {
        selectFirstPortWhenNoneIs();
        return;
    }
    const std::optional<int> row = grid.rowOfPuert(*m_currentPuert);
    if (row)
        m_DBGrid1->setCurrentIndex(m_statusColumn->index(*row, m_currentColumn));
    m_currentPuert.reset();
    selectFirstPortWhenNoneIs();
}

void Telvar::selectFirstPortWhenNoneIs()
{
    if (m_DBGrid1->currentIndex().isValid() || m_statusColumn->rowCount() == 0) {
        followGridPortInChart();
        return;
    }
    const int firstShown = m_DBGrid1->horizontalHeader()->logicalIndex(0);
    m_DBGrid1->setCurrentIndex(m_statusColumn->index(0, std::max(0, firstShown)));
    followGridPortInChart();
}

void Telvar::fitToScreen()
{
    // Wide enough for the whole configuration grid where the screen allows
    // (each column as the grid will lay it out: its width in twips, or its
    // caption's); a narrower screen narrows the long-text columns first.
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
    setInitialSplits();
}

void Telvar::setInitialSplits()
{
    // The readings grid gets what its columns need (the chart the rest, at
    // least a third); below it, a few lines each for the log, the
    // quarantine and the page, the readings and the chart the remainder.
    const int lineHeight = m_txtGraba->fontMetrics().lineSpacing();
    const int tabHeight = std::max(400, height() - 120);
    const int logHeight = 6 * lineHeight + 2 * m_txtGraba->frameWidth() + 8;
    const int quarantineHeight = 4 * (fontMetrics().height() + 8);
    const int pageHeight = 5 * lineHeight + fontMetrics().height() + 16;
    m_readingsSplitter->setSizes(
        {std::max(200, tabHeight - logHeight - quarantineHeight - pageHeight), logHeight,
         quarantineHeight, pageHeight});
}

int Telvar::readingsGridLeast() const
{
    // The grid's fixed columns whole, its flexible ones at their narrowest.
    int least = 2 * m_DatoFlexGrid->frameWidth() +
                m_DatoFlexGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    for (int c = 0; c < int(kReadingsColumnWidths.size()); ++c)
        least += kReadingsColumnWidths[std::size_t(c)].flexible
                     ? ColumnFit::kFlexibleFloor
                     : m_readingsFit->naturalWidths().value(c);
    return least;
}

void Telvar::splitReadingsAndChart()
{
    // The readings grid gets what its columns need, the chart the rest;
    // a narrow window narrows the chart first, down to its minimum, and
    // then the grid's flexible columns. Once the person has moved the
    // handle (or a kept layout did), the split is the person's.
    if (m_readingsSplitByPerson)
        return;
    const int total = m_readingsAndChart->width() - m_readingsAndChart->handleWidth();
    if (total <= 0)
        return;
    int needed = 2 * m_DatoFlexGrid->frameWidth() +
                 m_DatoFlexGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2;
    const QHash<int, int> natural = m_readingsFit->naturalWidths();
    for (auto it = natural.cbegin(); it != natural.cend(); ++it)
        needed += it.value();
    const int grid = std::max(0, std::min(needed, total - m_chart->minimumWidth()));
    m_readingsAndChart->setSizes({grid, total - grid});
}

QString Telvar::layoutFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/TelvarWindow.ini");
}

void Telvar::saveLayout() const
{
    QSettings settings(layoutFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("window/geometry"), saveGeometry());
    settings.setValue(QStringLiteral("window/readingsSplitter"), m_readingsSplitter->saveState());
    settings.setValue(QStringLiteral("window/readingsAndChart"), m_readingsAndChart->saveState());
    // Column widths only where the person set them; the configuration's by
    // field name, so that they survive another query's column order.
    settings.remove(QStringLiteral("readingsColumns"));
    if (m_readingsFit->personSized()) {
        const QHash<int, int> widths = m_readingsFit->widths();
        for (auto it = widths.cbegin(); it != widths.cend(); ++it)
            settings.setValue(QStringLiteral("readingsColumns/%1").arg(it.key()), it.value());
    }
    settings.remove(QStringLiteral("configColumns"));
    if (m_configFit->personSized()) {
        const ConfigGridModel& grid = m_router.configDatabase().RsConf();
        const QHash<int, int> widths = m_configFit->widths();
        for (auto it = widths.cbegin(); it != widths.cend(); ++it) {
            const QString field = it.key() < grid.columnCount() ? grid.record().fieldName(it.key())
                                                                : QStringLiteral("(status)");
            settings.setValue(QStringLiteral("configColumns/") + field, it.value());
        }
    }
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning("Telvar: the window's layout could not be kept in %s", qPrintable(layoutFile()));
}

void Telvar::restoreLayout()
{
    if (m_layoutRestored)
        return;
    m_layoutRestored = true;
    // A missing or unreadable file leaves the layout as built; a damaged
    // entry is ignored by Qt (restoreState returns false).
    if (!QFileInfo::exists(layoutFile()))
        return;
    QSettings settings(layoutFile(), QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return;
    restoreGeometry(settings.value(QStringLiteral("window/geometry")).toByteArray());
    m_readingsSplitter->restoreState(
        settings.value(QStringLiteral("window/readingsSplitter")).toByteArray());
    // A kept split that would hide the readings' key columns (it came from
    // a much wider window, say) gives way to the automatic one.
    const QList<int> automatic = m_readingsAndChart->sizes();
    if (m_readingsAndChart->restoreState(
            settings.value(QStringLiteral("window/readingsAndChart")).toByteArray())) {
        m_readingsSplitByPerson = m_readingsAndChart->sizes().value(0) >= readingsGridLeast();
        if (!m_readingsSplitByPerson)
            m_readingsAndChart->setSizes(automatic);
    }
    const auto widthsOf = [&settings](const QString& group, auto columnOf) {
        QHash<int, int> widths;
        settings.beginGroup(group);
        for (const QString& key : settings.childKeys()) {
            bool ok = false;
            const int width = settings.value(key).toInt(&ok);
            const int column = columnOf(key);
            // A width beyond any screen is no one's choice.
            if (ok && column >= 0 && width > 0 && width < 4000)
                widths.insert(column, width);
        }
        settings.endGroup();
        return widths;
    };
    m_readingsFit->setPersonWidths(
        widthsOf(QStringLiteral("readingsColumns"), [](const QString& key) {
            bool ok = false;
            const int column = key.toInt(&ok);
            return ok ? column : -1;
        }));
    const ConfigGridModel& grid = configDatabase().RsConf();
    const int status = m_statusColumn->statusColumn();
    m_configFit->setPersonWidths(
        widthsOf(QStringLiteral("configColumns"), [&grid, status](const QString& key) {
            return key == QStringLiteral("(status)") ? status : grid.columnOf(key);
        }));
}

} // namespace telvar
