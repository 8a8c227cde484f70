#include "config/widgets/TelvarConfig.h"

#include "common/Modulo1.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvar {

TelvarConfig::TelvarConfig(Modulo1& m, Interaccion& ui, QWidget* parent)
    : QDialog(parent), m_m(m), m_selector(m, ui),
      m_selectorArchivo([](QWidget* padre, const QString& filtro) {
          return QFileDialog::getOpenFileName(padre, QString(), QString(), filtro);
      }),
      m_cboDBConf(new QComboBox(this)), m_cmdRuta(new QPushButton(this)),
      m_bAceptar(new QPushButton(this))
{
    setObjectName(QStringLiteral("TelvarConfig"));
    setModal(true);
    m_cboDBConf->setObjectName(QStringLiteral("cboDBConf"));
    m_cmdRuta->setObjectName(QStringLiteral("cmdRuta"));
    m_bAceptar->setObjectName(QStringLiteral("bAceptar"));

    m_cboDBConf->setEditable(true);
    m_cboDBConf->setInsertPolicy(QComboBox::NoInsert);
    m_cboDBConf->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cboDBConf->setMinimumContentsLength(48);
    m_cboDBConf->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_bAceptar->setDefault(true);
    m_cmdRuta->setAutoDefault(false);

    auto* fila = new QHBoxLayout;
    fila->addWidget(m_cboDBConf, 1);
    fila->addWidget(m_cmdRuta);
    auto* botones = new QHBoxLayout;
    botones->addStretch(1);
    botones->addWidget(m_bAceptar);
    auto* diseno = new QVBoxLayout(this);
    diseno->addLayout(fila);
    diseno->addSpacing(8);
    diseno->addLayout(botones);

    connect(m_cmdRuta, &QPushButton::clicked, this, &TelvarConfig::cmdRuta_Click);
    connect(m_bAceptar, &QPushButton::clicked, this, &TelvarConfig::bAceptar_Click);

    Form_Load();
}

void TelvarConfig::setSelectorArchivo(SelectorArchivo selector)
{
    m_selectorArchivo = std::move(selector);
}

void TelvarConfig::Form_Load()
{
    setWindowTitle(m_m.Mensajes(43, 13));
    m_cmdRuta->setText(m_m.Mensajes(2, 11));
    m_bAceptar->setText(m_m.Mensajes(2, 0));

    m_cboDBConf->clear();
    m_cboDBConf->addItems(m_selector.cargaLista());
    m_cboDBConf->setCurrentIndex(m_cboDBConf->count() > 0 ? 0 : -1);
    // The combo box is wide enough for the longest path it lists.
    const QFontMetrics medidas(m_cboDBConf->font());
    int mayor = 0;
    for (int i = 0; i < m_cboDBConf->count(); ++i)
        mayor = std::max(mayor, medidas.horizontalAdvance(m_cboDBConf->itemText(i)));
    m_cboDBConf->setMinimumWidth(std::min(mayor + 60, 900));
}

void TelvarConfig::cmdRuta_Click()
{
    const QString elegido = m_selectorArchivo(this, QStringLiteral("mdb (*.mdb)"));
    if (!elegido.isEmpty())
        m_cboDBConf->setEditText(QDir::toNativeSeparators(elegido));
    m_cboDBConf->setFocus();
}

void TelvarConfig::bAceptar_Click()
{
    QStringList items;
    for (int i = 0; i < m_cboDBConf->count(); ++i)
        items.append(m_cboDBConf->itemText(i));
    const std::optional<QString> ruta = m_selector.acepta(m_cboDBConf->currentText(), items);
    if (!ruta)
        return;
    m_rutaAceptada = *ruta;
    m_cboDBConf->setEditText(*ruta);
    accept();
}

} // namespace telvar
