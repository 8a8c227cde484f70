#include "config/widgets/Telvar.h"

#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/Twips.h"
#include "config/ConfigTexts.h"
#include "config/GridLayouts.h"
#include "config/widgets/TelvarConfig.h"
#include "database/LeeAnchos.h"

#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace telvar {

namespace {

// Cells of a centred readings column (the flexible grid's column alignment).
class CentradoDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->displayAlignment = Qt::AlignCenter;
    }
};

// A column as wide as its width in twips, but never narrower than its
// caption, which would otherwise be cut off.
int anchoColumna(const QHeaderView& cabecera, int logica, int anchoTwips)
{
    const int pixeles = twipsToPixels(anchoTwips, cabecera.logicalDpiX());
    return std::max(pixeles, cabecera.sectionSizeHint(logica));
}

QLabel* etiquetaValor(QWidget* padre, const char* nombre)
{
    auto* etiqueta = new QLabel(padre);
    etiqueta->setObjectName(QLatin1String(nombre));
    etiqueta->setFrameShape(QFrame::StyledPanel);
    etiqueta->setFrameShadow(QFrame::Sunken);
    etiqueta->setMinimumWidth(110);
    etiqueta->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return etiqueta;
}

} // namespace

Telvar::Telvar(Modulo1& m, Interaccion& ui, QWidget* parent)
    : QMainWindow(parent), m_m(m), m_ui(ui), m_configuracion(m, ui),
      m_muestraSelector([](TelvarConfig& selector) { selector.exec(); })
{
    setObjectName(QStringLiteral("Telvar"));
    setWindowTitle(QStringLiteral("Ruteador Html -> Qualitra"));
    construye();
    ponCaptions();
    disenaDatoFlexGrid();
    ajustaTamano();
}

Telvar::~Telvar() = default;

void Telvar::construye()
{
    auto* central = new QWidget(this);
    setCentralWidget(central);

    m_cmdAbre = new QPushButton(central);
    m_cmdAbre->setObjectName(QStringLiteral("cmdAbre"));
    m_cmdConf = new QPushButton(central);
    m_cmdConf->setObjectName(QStringLiteral("cmdConf"));
    m_bArchConf = new QPushButton(QStringLiteral("..."), central);
    m_bArchConf->setObjectName(QStringLiteral("bArchConf"));
    m_bArchConf->setMinimumWidth(140);
    connect(m_bArchConf, &QPushButton::clicked, this, &Telvar::bArchConf_Click);

    auto* barra = new QHBoxLayout;
    barra->addWidget(m_cmdAbre);
    barra->addWidget(m_cmdConf);
    barra->addWidget(m_bArchConf);
    barra->addStretch(1);
    for (int i = 1; i <= 10; ++i) {
        auto* boton = new QPushButton(QString::number(i), central);
        boton->setObjectName(QStringLiteral("bReloj_") + QString::number(i));
        boton->setEnabled(false);
        boton->setFixedWidth(boton->fontMetrics().horizontalAdvance(QStringLiteral("10")) + 24);
        barra->addWidget(boton);
        m_bReloj[std::size_t(i)] = boton;
    }

    m_SSTab1 = new QTabWidget(central);
    m_SSTab1->setObjectName(QStringLiteral("SSTab1"));

    // Tab 0: the configuration grid.
    m_DBGrid1 = new QTableView;
    m_DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    m_DBGrid1->setModel(&m_configuracion.RsConf());
    m_DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_DBGrid1->setAlternatingRowColors(true);
    m_DBGrid1->setWordWrap(false);
    m_DBGrid1->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_DBGrid1->verticalHeader()->setVisible(false);
    m_DBGrid1->verticalHeader()->setDefaultSectionSize(m_DBGrid1->fontMetrics().height() + 8);
    m_DBGrid1->horizontalHeader()->setHighlightSections(false);
    m_SSTab1->addTab(m_DBGrid1, QString());

    const ConfigGridModel* modelo = &m_configuracion.RsConf();
    connect(modelo, &QAbstractItemModel::modelAboutToBeReset, this, &Telvar::recuerdaFilaActual);
    connect(modelo, &QAbstractItemModel::modelReset, this, &Telvar::disenaDBGrid1);
    connect(modelo, &ConfigGridModel::leido, this, &Telvar::restauraFilaActual);

    // Tab 1: the readings, the recording log and the page source.
    auto* lecturas = new QWidget;
    m_DatoFlexGrid = new QTableWidget(0, int(kColumnasDatoFlexGrid.size()), lecturas);
    m_DatoFlexGrid->setObjectName(QStringLiteral("DatoFlexGrid"));
    m_DatoFlexGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_DatoFlexGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_DatoFlexGrid->setWordWrap(false);
    m_DatoFlexGrid->verticalHeader()->setVisible(false);
    m_DatoFlexGrid->verticalHeader()->setDefaultSectionSize(m_DatoFlexGrid->fontMetrics().height() +
                                                            6);
    m_DatoFlexGrid->horizontalHeader()->setHighlightSections(false);
    auto* centrado = new CentradoDelegate(m_DatoFlexGrid);
    for (int c = 0; c < int(kColumnasDatoFlexGrid.size()); ++c) {
        if (kColumnasDatoFlexGrid[std::size_t(c)].centrada)
            m_DatoFlexGrid->setItemDelegateForColumn(c, centrado);
    }

    m_txtGraba = new QPlainTextEdit(lecturas);
    m_txtGraba->setObjectName(QStringLiteral("txtGraba"));
    m_txtGraba->setReadOnly(true);
    m_txtGraba->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_txtGraba->setLineWrapMode(QPlainTextEdit::NoWrap);

    m_txtSource = new QPlainTextEdit(lecturas);
    m_txtSource->setObjectName(QStringLiteral("txtSource"));
    m_txtSource->setReadOnly(true);
    m_txtSource->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    m_lblDato = etiquetaValor(lecturas, "lblDato");
    QFont negrita = m_lblDato->font();
    negrita.setBold(true);
    m_lblDato->setFont(negrita);
    m_lblFormato = etiquetaValor(lecturas, "lblFormato");
    m_lblMaquina = etiquetaValor(lecturas, "lblMaquina");
    m_lblProducto = etiquetaValor(lecturas, "lblProducto");
    auto* valores = new QHBoxLayout;
    const std::pair<QLabel*, QString> filas[] = {
        {m_lblDato, m_m.Mensajes(76, 28)},
        {m_lblFormato, m_m.Mensajes(0, 20)},
        {m_lblMaquina, m_m.Mensajes(0, 18)},
        {m_lblProducto, m_m.Mensajes(0, 19)},
    };
    for (const auto& [valor, titulo] : filas) {
        auto* etiqueta = new QLabel(titulo + QLatin1Char(':'), lecturas);
        etiqueta->setBuddy(valor);
        valores->addWidget(etiqueta);
        valores->addWidget(valor, 1);
        valores->addSpacing(12);
    }

    auto* divisor = new QSplitter(Qt::Vertical, lecturas);
    divisor->addWidget(m_DatoFlexGrid);
    divisor->addWidget(m_txtGraba);
    divisor->addWidget(m_txtSource);
    divisor->setStretchFactor(0, 5);
    divisor->setStretchFactor(1, 3);
    divisor->setStretchFactor(2, 1);
    divisor->setChildrenCollapsible(false);

    auto* disenoLecturas = new QVBoxLayout(lecturas);
    disenoLecturas->addLayout(valores);
    disenoLecturas->addWidget(divisor, 1);
    m_SSTab1->addTab(lecturas, QString());

    auto* diseno = new QVBoxLayout(central);
    diseno->setContentsMargins(4, 6, 4, 2);
    diseno->addLayout(barra);
    diseno->addWidget(m_SSTab1, 1);

    m_lblStatus = new QLabel(this);
    m_lblStatus->setObjectName(QStringLiteral("lblStatus"));
    statusBar()->addWidget(m_lblStatus, 1);
}

void Telvar::setMuestraSelector(MuestraSelector muestra)
{
    m_muestraSelector = std::move(muestra);
}

bool Telvar::Form_Load()
{
    setWindowTitle(
        captionTelvar(m_m.Mensajes(76, 0), TELVAR_VERSION_MAJOR, TELVAR_VERSION_REVISION));
    // The key widths that Reinicia checks the configuration against.
    if (!LeeAnchos(m_m, m_ui))
        return false;
    if (Reinicia() == ResultadoReinicia::TerminarPrograma)
        return false;
    disenaDatoFlexGrid();
    return true;
}

ResultadoReinicia Telvar::Reinicia()
{
    const ResultadoReinicia resultado = m_configuracion.Reinicia();
    if (resultado == ResultadoReinicia::Hecho) {
        m_bArchConf->setText(m_configuracion.nombreArchConf());
        m_bArchConf->setToolTip(m_m.RutaConf);
        ponCaptions();
        disenaDBGrid1();
    }
    return resultado;
}

void Telvar::bArchConf_Click()
{
    TelvarConfig selector(m_m, m_ui, this);
    m_muestraSelector(selector);
    if (Reinicia() == ResultadoReinicia::TerminarPrograma)
        emit terminarPrograma();
}

void Telvar::ponCaptions()
{
    m_cmdAbre->setText(m_m.Mensajes(Mensaje::IniciarAdquisicion));
    m_cmdConf->setText(m_m.Mensajes(76, 4));
    m_SSTab1->setTabText(0, m_m.Mensajes(76, 5));
    m_SSTab1->setTabText(1, m_m.Mensajes(76, 6));
    for (int i = 1; i <= 10; ++i)
        m_bReloj[std::size_t(i)]->setToolTip(m_m.Mensajes(76, 8) + QLatin1Char(' ') +
                                             QString::number(i));
}

void Telvar::disenaDBGrid1()
{
    ConfigGridModel& modelo = m_configuracion.RsConf();
    QHash<QString, QString> captions;
    for (const ColumnaConfig& columna : kColumnasDBGrid1)
        captions.insert(QLatin1String(columna.campo),
                        m_m.Mensajes(kSeccionDBGrid1, columna.mensaje));
    modelo.setCaptions(captions);

    QHeaderView* cabecera = m_DBGrid1->horizontalHeader();
    // Columns the layout does not name (the clock's Clave among them) stay hidden.
    for (int c = 0; c < modelo.columnCount(); ++c)
        m_DBGrid1->setColumnHidden(c, true);
    int visual = 0;
    for (const ColumnaConfig& columna : kColumnasDBGrid1) {
        const int logica = modelo.columnOf(QLatin1String(columna.campo));
        if (logica < 0)
            continue;
        m_DBGrid1->setColumnHidden(logica, false);
        cabecera->moveSection(cabecera->visualIndex(logica), visual++);
        m_DBGrid1->setColumnWidth(logica, anchoColumna(*cabecera, logica, columna.anchoTwips));
    }
}

void Telvar::disenaDatoFlexGrid()
{
    QHeaderView* cabecera = m_DatoFlexGrid->horizontalHeader();
    for (int c = 0; c < int(kColumnasDatoFlexGrid.size()); ++c) {
        const ColumnaLecturas& columna = kColumnasDatoFlexGrid[std::size_t(c)];
        const QString texto = columna.textoFijo ? QLatin1String(columna.textoFijo)
                                                : m_m.Mensajes(columna.seccion, columna.numero);
        auto* titulo = new QTableWidgetItem(texto);
        titulo->setTextAlignment(columna.centrada ? Qt::AlignCenter
                                                  : Qt::AlignLeft | Qt::AlignVCenter);
        m_DatoFlexGrid->setHorizontalHeaderItem(c, titulo);
        int ancho = anchoColumna(*cabecera, c, columna.anchoTwips);
        if (columna.muestra)
            ancho = std::max(ancho, m_DatoFlexGrid->fontMetrics().horizontalAdvance(
                                        QLatin1String(columna.muestra)) +
                                        16);
        m_DatoFlexGrid->setColumnWidth(c, ancho);
    }
}

void Telvar::recuerdaFilaActual()
{
    // A re-binding empties the grid before it fills it again: the port
    // remembered before the first of the two resets is the one to return to.
    const QModelIndex actual = m_DBGrid1->currentIndex();
    if (!actual.isValid())
        return;
    m_puertActual = m_configuracion.RsConf().row(actual.row()).Puert;
    m_columnaActual = actual.column();
}

void Telvar::restauraFilaActual()
{
    const ConfigGridModel& modelo = m_configuracion.RsConf();
    if (!m_puertActual || modelo.rowCount() == 0)
        return;
    const std::optional<int> fila = modelo.rowOfPuert(*m_puertActual);
    if (fila)
        m_DBGrid1->setCurrentIndex(modelo.index(*fila, m_columnaActual));
    m_puertActual.reset();
}

void Telvar::ajustaTamano()
{
    // Wide enough for the whole configuration grid where the screen allows
    // (each column as the grid will lay it out: its width in twips, or its
    // caption's); a narrower screen scrolls the grid sideways.
    const QHeaderView* cabecera = m_DBGrid1->horizontalHeader();
    const int margenCabecera =
        2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, cabecera) + 4;
    int ancho = 0;
    for (const ColumnaConfig& columna : kColumnasDBGrid1) {
        const int titulo = cabecera->fontMetrics().horizontalAdvance(
                               m_m.Mensajes(kSeccionDBGrid1, columna.mensaje)) +
                           margenCabecera;
        ancho += std::max(twipsToPixels(columna.anchoTwips, logicalDpiX()), titulo);
    }
    // The grid's frame and the window's margins around the tab page.
    ancho += 2 * m_DBGrid1->frameWidth() + 2 * 4 + 2 * 6 + 6;
    int alto = 720;
    if (const QScreen* pantalla = screen()) {
        const QRect disponible = pantalla->availableGeometry();
        ancho = std::min(ancho, disponible.width() - 8);
        alto = std::min(alto, disponible.height() - 60);
    }
    resize(ancho, alto);
}

} // namespace telvar
