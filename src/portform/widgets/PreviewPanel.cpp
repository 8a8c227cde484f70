#include "portform/widgets/PreviewPanel.h"

#include "common/OwnTexts.h"
#include "portform/PortPreview.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>
#include <algorithm>

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

// The page box's text: one character for each of the page's, line feeds
// kept as line breaks, the other control characters as the marks above
// (so that a place in the page is the same place in the box).
QString pageBoxText(const QString& text)
{
    QString shown = text;
    for (QChar& c : shown) {
        if (c == QLatin1Char('\r'))
            c = QChar(0x00A4);
        else if (c == QLatin1Char('\t'))
            c = QChar(0x00BB);
        else if (c != QLatin1Char('\n') && c.category() == QChar::Other_Control)
            c = QChar(0x00B7);
    }
    return shown;
}

// The page box: read only; Enter stays in it rather than save the form.
class PageBox final : public QPlainTextEdit {
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }
};

QTextEdit::ExtraSelection marked(QTextDocument* document, qsizetype at, qsizetype length,
                                 const QColor& colour)
{
    QTextEdit::ExtraSelection selection;
    selection.cursor = QTextCursor(document);
    selection.cursor.setPosition(static_cast<int>(at));
    selection.cursor.setPosition(static_cast<int>(at + length), QTextCursor::KeepAnchor);
    selection.format.setBackground(colour);
    return selection;
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

    // Links to the near texts; their targets are indexes into m_near, never
    // page text.
    m_lblCercanos = new QLabel(this);
    m_lblCercanos->setObjectName(QStringLiteral("lblCercanos"));
    m_lblCercanos->setWordWrap(true);
    m_lblCercanos->setTextFormat(Qt::RichText);
    m_lblCercanos->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                           Qt::LinksAccessibleByKeyboard);
    connect(m_lblCercanos, &QLabel::linkActivated, this, [this](const QString& link) {
        bool isIndex = false;
        const qsizetype index = link.mid(1).toLongLong(&isIndex);
        if (isIndex && index >= 0 && index < m_near.size())
            emit identifierPicked(m_near[index]);
    });

    m_txtPagina = new PageBox(this);
    m_txtPagina->setObjectName(QStringLiteral("txtPagina"));
    m_txtPagina->setReadOnly(true);
    m_txtPagina->setUndoRedoEnabled(false);
    m_txtPagina->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_txtPagina->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    m_txtPagina->setFont(QFont(QStringLiteral("monospace")));

    m_cmdLeer = new QPushButton(ownText(OwnText::PreviewReadAgain, preview.idioma()), this);
    m_cmdLeer->setObjectName(QStringLiteral("cmdLeer"));
    connect(m_cmdLeer, &QPushButton::clicked, this, &PreviewPanel::reloadRequested);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblPagina);
    layout->addWidget(m_lblLectura);
    layout->addWidget(m_lblCercanos);
    layout->addWidget(m_lblContexto);
    layout->addWidget(m_txtPagina, 1);
    layout->addWidget(m_cmdLeer, 0, Qt::AlignRight);

    connect(&m_preview, &PortPreview::changed, this, &PreviewPanel::showView);
    showView();
}

void PreviewPanel::showView()
{
    const PreviewView view = m_preview.view();
    m_lblPagina->setText(view.pagePartLine.isEmpty()
                             ? view.pageLine
                             : view.pageLine + QLatin1Char('\n') + view.pagePartLine);
    m_lblLectura->setText(view.readingLine);
    m_lblLectura->setVisible(!view.readingLine.isEmpty());

    m_near.clear();
    QString links;
    for (const NearIdentifier& near : view.near) {
        if (!links.isEmpty())
            links += QStringLiteral(", ");
        links += QStringLiteral("<a href=\"#") + QString::number(m_near.size()) +
                 QStringLiteral("\">") + shownText(near.text) + QStringLiteral("</a>");
        m_near.append(near.text);
    }
    m_lblCercanos->setText(view.nearLine.toHtmlEscaped() + links + view.nearNote.toHtmlEscaped());
    m_lblCercanos->setVisible(!view.nearLine.isEmpty());

    showPage(view);

    const bool cutShown = !(view.before.isEmpty() && view.cut.isEmpty() && view.after.isEmpty());
    m_lblContexto->setVisible(cutShown);
    if (!cutShown) {
        m_lblContexto->clear();
        return;
    }
    m_lblContexto->setText(
        QStringLiteral("<span style=\"font-family: monospace\">") + shownText(view.before) +
        QStringLiteral("<span style=\"background-color: #ffe066; font-weight: bold\">") +
        (view.cut.isEmpty() ? QStringLiteral("&#x2038;") : shownText(view.cut)) +
        QStringLiteral("</span>") + shownText(view.after) + QStringLiteral("</span>"));
}

void PreviewPanel::showPage(const PreviewView& view)
{
    if (view.pageText != m_shownPage) {
        m_shownPage = view.pageText;
        m_txtPagina->setPlainText(pageBoxText(m_shownPage));
    }
    // The cut, or else the near texts in the part shown, marked; the box
    // shows the first of them.
    QList<QTextEdit::ExtraSelection> marks;
    const qsizetype shown = m_shownPage.size();
    qsizetype first = -1;
    if (view.cutAt >= 0 && view.cutAt < shown) {
        marks.append(marked(m_txtPagina->document(), view.cutAt,
                            std::min(view.cutLength, shown - view.cutAt),
                            QColor(0xff, 0xe0, 0x66)));
        first = view.cutAt;
    }
    for (const NearIdentifier& near : view.near) {
        const qsizetype at = near.position - view.pageFrom;
        if (at < 0 || at + near.text.size() > shown)
            continue;
        marks.append(
            marked(m_txtPagina->document(), at, near.text.size(), QColor(0xb3, 0xd9, 0xff)));
        if (first < 0)
            first = at;
    }
    m_txtPagina->setExtraSelections(marks);
    QTextCursor cursor(m_txtPagina->document());
    cursor.setPosition(static_cast<int>(std::max<qsizetype>(first, 0)));
    m_txtPagina->setTextCursor(cursor);
    if (first >= 0)
        m_txtPagina->centerCursor();
}

} // namespace telvar
