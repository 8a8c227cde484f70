#pragma once

#include <QGroupBox>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace telvar {

class PortPreview;
struct PreviewView;

// Shows a port's preview: how its page stands, what the cut reads, the page
// text around the cut with the cut marked, and the page itself (whatever the
// cut gives, so that a wrong identifier can be corrected from it). When the
// page does not hold the identifier, the page's nearest texts are offered as
// links that put them into the identifier box. Page text is shown as text,
// never interpreted, with line ends and tabs made visible.
class PreviewPanel final : public QGroupBox {
    Q_OBJECT
public:
    PreviewPanel(PortPreview& preview, QWidget* parent = nullptr);

    // The button that reads the page again.
    QPushButton* reloadButton() const { return m_cmdLeer; }

signals:
    void reloadRequested();
    // A near text the person picked for the identifier.
    void identifierPicked(const QString& identifier);

private:
    void showView();
    void showPage(const PreviewView& view);

    PortPreview& m_preview;
    QLabel* m_lblPagina;
    QLabel* m_lblLectura;
    QLabel* m_lblCercanos;
    QLabel* m_lblContexto;
    QPlainTextEdit* m_txtPagina;
    QPushButton* m_cmdLeer;
    // The near texts the links of m_lblCercanos stand for, by index.
    QStringList m_near;
    // The page text the page box holds (set again only when it changes:
    // the view is shown on every keystroke).
    QString m_shownPage;
};

} // namespace telvar
