#include "portform/widgets/PreviewPanel.h"

#include "common/OwnTexts.h"
#include "portform/PortPreview.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace telvar {

namespace {

// Page text as the panel shows it: escaped, with line ends and tabs as
// visible marks (one mark a character, in glyphs every font has) so that
// the engineer can count characters: "¤" carriage return, "¶" line feed,
// "»" tab, "·" any other control character.
QString shownText(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\r'))
            shown += QChar(0x00A4);
        else if (c == QLatin1Char('\n'))
            shown += QChar(0x00B6);
        else if (c == QLatin1Char('\t'))
            shown += QChar(0x00BB);
        else if (c.category() == QChar::Other_Control)
            shown += QChar(0x00B7);
        else
            shown += c;
    }
    return shown.toHtmlEscaped();
}

QLabel* wrappedLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

PreviewPanel::PreviewPanel(PortPreview& preview, QWidget* parent)
    : QGroupBox(ownText(OwnText::PreviewTitle, preview.idioma()), parent), m_preview(preview)
{
    setObjectName(QStringLiteral("grpPreview"));
    m_lblPagina = wrappedLabel(QStringLiteral("lblPagina"), this);
    m_lblLectura = wrappedLabel(QStringLiteral("lblLectura"), this);
    QFont bold = m_lblLectura->font();
    bold.setBold(true);
    m_lblLectura->setFont(bold);

    m_lblContexto = new QLabel(this);
    m_lblContexto->setObjectName(QStringLiteral("lblContexto"));
    m_lblContexto->setWordWrap(true);
    // Rich text only for the mark around the cut; the page's own text is
    // escaped first.
    m_lblContexto->setTextFormat(Qt::RichText);
    m_lblContexto->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblContexto->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lblContexto->setFrameShape(QFrame::StyledPanel);
    m_lblContexto->setMinimumHeight(80);

    m_cmdLeer = new QPushButton(ownText(OwnText::PreviewReadAgain, preview.idioma()), this);
    m_cmdLeer->setObjectName(QStringLiteral("cmdLeer"));
    connect(m_cmdLeer, &QPushButton::clicked, this, &PreviewPanel::reloadRequested);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblPagina);
    layout->addWidget(m_lblLectura);
    layout->addWidget(m_lblContexto, 1);
    layout->addWidget(m_cmdLeer, 0, Qt::AlignRight);

    connect(&m_preview, &PortPreview::changed, this, &PreviewPanel::showView);
    showView();
}

void PreviewPanel::showView()
{
    const PreviewView view = m_preview.view();
    m_lblPagina->setText(view.pageLine);
    m_lblLectura->setText(view.readingLine);
    m_lblLectura->setVisible(!view.readingLine.isEmpty());
    if (view.before.isEmpty() && view.cut.isEmpty() && view.after.isEmpty()) {
        m_lblContexto->clear();
        return;
    }
    m_lblContexto->setText(
        QStringLiteral("<span style=\"font-family: monospace\">") + shownText(view.before) +
        QStringLiteral("<span style=\"background-color: #ffe066; font-weight: bold\">") +
        (view.cut.isEmpty() ? QStringLiteral("&#x2038;") : shownText(view.cut)) +
        QStringLiteral("</span>") + shownText(view.after) + QStringLiteral("</span>"));
}

} // namespace telvar
