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
    : QDialog(parent), m_m(m), m_chooser(m, ui),
      m_filePicker([](QWidget* owner, const QString& filter) {
          return QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
      }),
      m_cboDBConf(new QComboBox(this)), m_cmdRuta(new QPushButton(this)),
      m_cmdImportar(new QPushButton(this)), m_bAceptar(new QPushButton(this))
{
    setObjectName(QStringLiteral("TelvarConfig"));
    setModal(true);
    m_cboDBConf->setObjectName(QStringLiteral("cboDBConf"));
    m_cmdRuta->setObjectName(QStringLiteral("cmdRuta"));
    m_cmdImportar->setObjectName(QStringLiteral("cmdImportar"));
    m_bAceptar->setObjectName(QStringLiteral("bAceptar"));

    m_cboDBConf->setEditable(true);
    m_cboDBConf->setInsertPolicy(QComboBox::NoInsert);
    m_cboDBConf->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cboDBConf->setMinimumContentsLength(48);
    m_cboDBConf->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_bAceptar->setDefault(true);
    m_cmdRuta->setAutoDefault(false);
    m_cmdImportar->setAutoDefault(false);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_cboDBConf, 1);
    pathRow->addWidget(m_cmdRuta);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdImportar);
    buttons->addStretch(1);
    buttons->addWidget(m_bAceptar);
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->addLayout(pathRow);
    mainLayout->addSpacing(8);
    mainLayout->addLayout(buttons);

    connect(m_cmdRuta, &QPushButton::clicked, this, &TelvarConfig::cmdRuta_Click);
    connect(m_cmdImportar, &QPushButton::clicked, this, &TelvarConfig::cmdImportar_Click);
    connect(m_bAceptar, &QPushButton::clicked, this, &TelvarConfig::bAceptar_Click);

    Form_Load();
}

void TelvarConfig::setFilePicker(FilePicker picker)
{
    m_filePicker = std::move(picker);
}

void TelvarConfig::setJetImporter(ConfigChooser::JetImporter importer)
{
    m_chooser.setJetImporter(std::move(importer));
}

void TelvarConfig::Form_Load()
{
    setWindowTitle(m_m.Mensajes(43, 13));
    m_cmdRuta->setText(m_m.Mensajes(2, 11));
    m_cmdImportar->setText(ConfigChooser::importCaption(m_m.Idioma));
    m_bAceptar->setText(m_m.Mensajes(2, 0));

    m_cboDBConf->clear();
    m_cboDBConf->addItems(m_chooser.loadPaths());
    m_cboDBConf->setCurrentIndex(m_cboDBConf->count() > 0 ? 0 : -1);
    // The combo box is wide enough for the longest path it lists.
    const QFontMetrics metrics(m_cboDBConf->font());
    int widest = 0;
    for (int i = 0; i < m_cboDBConf->count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(m_cboDBConf->itemText(i)));
    m_cboDBConf->setMinimumWidth(std::min(widest + 60, 900));
}

void TelvarConfig::cmdRuta_Click()
{
    const QString picked = m_filePicker(this, QStringLiteral("mdb (*.mdb)"));
    if (!picked.isEmpty())
        m_cboDBConf->setEditText(QDir::toNativeSeparators(picked));
    m_cboDBConf->setFocus();
}

void TelvarConfig::cmdImportar_Click()
{
    if (const std::optional<QString> path = m_chooser.importJet(items()))
        acceptPath(*path);
}

void TelvarConfig::bAceptar_Click()
{
    if (const std::optional<QString> path = m_chooser.accept(m_cboDBConf->currentText(), items()))
        acceptPath(*path);
}

QStringList TelvarConfig::items() const
{
    QStringList list;
    for (int i = 0; i < m_cboDBConf->count(); ++i)
        list.append(m_cboDBConf->itemText(i));
    return list;
}

void TelvarConfig::acceptPath(const QString& path)
{
    m_acceptedPath = path;
    m_cboDBConf->setEditText(path);
    accept();
}

} // namespace telvar
