#pragma once

#include "dialogs/SuperListBoxLayout.h"

#include <QDialog>
#include <QString>
#include <QtGlobal>

class QListWidget;
class QPushButton;

namespace telvar {

struct Modulo1;

// The list picker: offers the lines of Lista and leaves in Resultado the
// 1-based position of the line picked ("0" for OK without a selection, ""
// after Cancel; the close box leaves it as it was). Set the properties, exec()
// it, then read Resultado.
//
// Design size (twips, client area; see SuperListBoxDesign): 4200 x 2100;
// List1 120 from the left, top and right edges; OK and Cancel 1215 x 375,
// centred as a pair 150 apart (OK alone is centred).
class SuperListBox final : public QDialog {
    Q_OBJECT
    Q_PROPERTY(QString Lista READ Lista WRITE setLista)
    Q_PROPERTY(QString Title READ Title WRITE setTitle)
    Q_PROPERTY(bool OmitCancel READ OmitCancel WRITE setOmitCancel)
    Q_PROPERTY(double XPos READ XPos WRITE setXPos)
    Q_PROPERTY(double YPos READ YPos WRITE setYPos)
    Q_PROPERTY(double Altura READ Altura WRITE setAltura)
    Q_PROPERTY(qint32 ColorFondo READ ColorFondo WRITE setColorFondo)
    Q_PROPERTY(QString Resultado READ Resultado)

public:
    // The buttons' captions come from modulo's message table when shown.
    explicit SuperListBox(const Modulo1& modulo, QWidget* parent = nullptr);

    QString Lista() const { return m_lista; }
    void setLista(const QString& lista) { m_lista = lista; }
    QString Title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }
    bool OmitCancel() const { return m_omitCancel; }
    void setOmitCancel(bool omit) { m_omitCancel = omit; }
    double XPos() const { return m_xPos; }
    void setXPos(double twips) { m_xPos = twips; }
    double YPos() const { return m_yPos; }
    void setYPos(double twips) { m_yPos = twips; }
    double Altura() const { return m_altura; }
    void setAltura(double twips) { m_altura = twips; }
    qint32 ColorFondo() const { return m_colorFondo; }
    void setColorFondo(qint32 color) { m_colorFondo = color; }
    QString Resultado() const { return m_resultado; }

    // The layout of the last showing.
    const SuperListBoxGeometry& geometryTwips() const { return m_geometry; }

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void cmdOK_Click();
    void cmdCancel_Click();

private:
    void Form_Load();

    const Modulo1& m_modulo;
    QString m_lista;
    QString m_title;
    bool m_omitCancel = false;
    double m_xPos = 0;
    double m_yPos = 0;
    double m_altura = 0;
    qint32 m_colorFondo = 0xFFFFFF;
    QString m_resultado;
    SuperListBoxGeometry m_geometry;

    QListWidget* m_list1;
    QPushButton* m_cmdOK;
    QPushButton* m_cmdCancel;
};

} // namespace telvar
