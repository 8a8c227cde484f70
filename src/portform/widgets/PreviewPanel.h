#pragma once

#include <QGroupBox>

class QLabel;
class QPushButton;

namespace telvar {

class PortPreview;

// Shows a port's preview: how its page stands, what the cut reads, and the
// page text around the cut with the cut marked. Page text is shown as text,
// never interpreted, with line ends and tabs made visible.
class PreviewPanel final : public QGroupBox {
    Q_OBJECT
public:
    PreviewPanel(PortPreview& preview, QWidget* parent = nullptr);

    // The button that reads the page again.
    QPushButton* reloadButton() const { return m_cmdLeer; }

signals:
    void reloadRequested();

private:
    void showView();

    PortPreview& m_preview;
    QLabel* m_lblPagina;
    QLabel* m_lblLectura;
    QLabel* m_lblContexto;
    QPushButton* m_cmdLeer;
};

} // namespace telvar
