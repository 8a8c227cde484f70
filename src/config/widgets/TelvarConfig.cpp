#include "config/widgets/TelvarConfig.h"

#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

namespace telvar {

TelvarConfig::TelvarConfig(Modulo1& m, Interaccion& ui, QWidget* parent)
    : QDialog(parent), m_m(m), m_ui(ui), m_chooser(m, ui),
      m_filePicker([](QWidget* owner, const QString& filter) {
          return QFileDialog::getOpenFileName(owner, QString(), QString(), filter);
      }),
      m_cboDBConf(new QComboBox(this)), m_cmdRuta(new QPushButton(this)),
      m_cmdImportar(new QPushButton(this)), m_bAceptar(new QPushButton(this)),
      m_importBusy(new QProgressBar(this)), m_importStatus(new QLabel(this)),
      m_cancelImport(new QPushButton(this)), m_importClock(new QTimer(this))
{
    setObjectName(QStringLiteral("TelvarConfig"));
    setModal(true);
    m_cboDBConf->setObjectName(QStringLiteral("cboDBConf"));
    m_cmdRuta->setObjectName(QStringLiteral("cmdRuta"));
    m_cmdImportar->setObjectName(QStringLiteral("cmdImportar"));
    m_bAceptar->setObjectName(QStringLiteral("bAceptar"));
    m_importBusy->setObjectName(QStringLiteral("importBusy"));
    m_importStatus->setObjectName(QStringLiteral("importStatus"));
    m_cancelImport->setObjectName(QStringLiteral("cancelImport"));

    m_cboDBConf->setEditable(true);
    m_cboDBConf->setInsertPolicy(QComboBox::NoInsert);
    m_cboDBConf->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cboDBConf->setMinimumContentsLength(48);
    m_cboDBConf->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_bAceptar->setDefault(true);
    m_cmdRuta->setAutoDefault(false);
    m_cmdImportar->setAutoDefault(false);
    m_cancelImport->setAutoDefault(false);
    // telvar-import tells of whole tables: the bar only shows that it runs.
    m_importBusy->setRange(0, 0);
    m_importBusy->setTextVisible(false);
    m_importBusy->setMaximumWidth(120);
    m_importStatus->setWordWrap(true);
    m_importStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_importClock->setInterval(1000);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_cboDBConf, 1);
    pathRow->addWidget(m_cmdRuta);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_cmdImportar);
    buttons->addStretch(1);
    buttons->addWidget(m_bAceptar);
    auto* importRow = new QHBoxLayout;
    importRow->addWidget(m_importBusy);
    importRow->addWidget(m_importStatus, 1);
    importRow->addWidget(m_cancelImport);
    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->addLayout(pathRow);
    mainLayout->addSpacing(8);
    mainLayout->addLayout(buttons);
    mainLayout->addLayout(importRow);

    connect(m_cmdRuta, &QPushButton::clicked, this, &TelvarConfig::cmdRuta_Click);
    connect(m_cmdImportar, &QPushButton::clicked, this, &TelvarConfig::cmdImportar_Click);
    connect(m_cancelImport, &QPushButton::clicked, this, &TelvarConfig::cancelImport_Click);
    connect(m_bAceptar, &QPushButton::clicked, this, &TelvarConfig::bAceptar_Click);
    connect(&m_import, &ConfigImportRun::progressed, this, &TelvarConfig::showImportProgress);
    connect(m_importClock, &QTimer::timeout, this, &TelvarConfig::showImportProgress);
    connect(&m_import, &ConfigImportRun::finished, this, &TelvarConfig::importFinished);
    showImportRunning(false);

    Form_Load();
}

void TelvarConfig::setFilePicker(FilePicker picker)
{
    m_filePicker = std::move(picker);
}

void TelvarConfig::setImportProgram(const QString& program)
{
    m_import.setProgram(program);
}

void TelvarConfig::Form_Load()
{
    setWindowTitle(m_m.Mensajes(43, 13));
    m_cmdRuta->setText(m_m.Mensajes(2, 11));
    m_cmdImportar->setText(ConfigChooser::importCaption(m_m.Idioma));
    m_bAceptar->setText(m_m.Mensajes(2, 0));
    m_cancelImport->setText(ownText(OwnText::ChooserImportCancel, m_m.Idioma));

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
    // One import at a time.
    if (m_import.isRunning())
        return;
    const std::optional<ImportRequest> request = m_chooser.askImport();
    if (!request)
        return;
    m_importStatus->clear();
    if (const Status started = m_import.start(*request); !started) {
        if (const std::optional<QString> path =
                m_chooser.importEnded(*request, started.error(), items()))
            acceptPath(*path);
        return;
    }
    m_importRequest = request;
    showImportRunning(true);
}

void TelvarConfig::cancelImport_Click()
{
    if (!m_import.isRunning())
        return;
    m_import.cancel();
    m_importRequest.reset();
    showImportRunning(false);
    m_importStatus->setText(ownText(OwnText::ChooserImportCancelled, m_m.Idioma));
    m_importStatus->show();
}

void TelvarConfig::done(int result)
{
    if (m_import.isRunning()) {
        m_askingToClose = true;
        const bool stop = m_ui.questionBox(ownText(OwnText::ChooserImportStopToClose, m_m.Idioma));
        m_askingToClose = false;
        const bool ended = std::exchange(m_endedWhileAsking, false);
        if (!stop) {
            if (ended)
                endImport();
            return;
        }
        // An import that ended meanwhile keeps its file, as one not taken.
        if (ended)
            m_importRequest.reset();
        else
            cancelImport_Click();
    }
    QDialog::done(result);
}

void TelvarConfig::showImportRunning(bool running)
{
    m_importBusy->setVisible(running);
    m_cancelImport->setVisible(running);
    m_importStatus->setVisible(running);
    // Accepting would take another file while this one is being written.
    m_cmdImportar->setEnabled(!running);
    m_bAceptar->setEnabled(!running);
    if (running) {
        showImportProgress();
        m_importClock->start();
    } else {
        m_importClock->stop();
    }
}

void TelvarConfig::showImportProgress()
{
    if (!m_import.isRunning() || !m_importRequest)
        return;
    m_importStatus->setText(ConfigChooser::importProgressText(
        m_importRequest->source, m_import.progress(), m_import.elapsedMs(), m_m.Idioma));
}

void TelvarConfig::importFinished()
{
    showImportRunning(false);
    if (m_askingToClose) {
        m_endedWhileAsking = true;
        return;
    }
    endImport();
}

void TelvarConfig::endImport()
{
    if (!m_importRequest || !m_import.outcome())
        return;
    const ImportRequest request = *std::exchange(m_importRequest, std::nullopt);
    m_importStatus->clear();
    if (const std::optional<QString> path =
            m_chooser.importEnded(request, *m_import.outcome(), items()))
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
