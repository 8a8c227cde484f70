#include "startup/DatabaseDirectory.h"

#include "database/ArmaConexion.h"
#include "startup/SequentialInput.h"

namespace telvar {

Result<DatabaseDirectory> DatabaseDirectory::lee(const QString& ruta)
{
    Result<SequentialInput> opened = SequentialInput::open(ruta);
    if (!opened)
        return opened.error();
    SequentialInput& input = opened.value();

    DatabaseDirectory directorio;
    if (input.atEnd())
        return directorio;
    const Result<QString> imagen = input.next();
    if (!imagen)
        return imagen.error();
    if (imagen.value().trimmed() != QLatin1String("[IMAGE]"))
        return directorio;
    directorio.m_formatoValido = true;
    if (!input.atEnd()) {
        const Result<QString> unused = input.next();
        if (!unused)
            return unused.error();
    }

    while (!input.atEnd()) {
        Result<QString> tag = input.next();
        if (!tag)
            return tag.error();
        if (!isEngineTag(tag.value()))
            continue;
        DatabaseEntry entry;
        entry.TipoBD = tag.value();
        QList<QString*> fields;
        if (isServerTag(entry.TipoBD))
            fields = {&entry.Servidor, &entry.BaseDatos, &entry.UsuarioBD};
        else
            fields = {&entry.RutaBD};
        for (QString* field : fields) {
            Result<QString> value = input.next();
            if (!value) {
                RuntimeError error = value.error();
                error.descripcion += QStringLiteral(" (the ") + entry.TipoBD +
                                     QStringLiteral(" entry is incomplete)");
                return error;
            }
            *field = value.value();
        }
        directorio.m_entradas.append(entry);
    }
    return directorio;
}

QString DatabaseDirectory::textoMenu() const
{
    QString texto;
    for (qsizetype i = 0; i < m_entradas.size(); ++i) {
        const DatabaseEntry& entry = m_entradas.at(i);
        texto += QString::number(i + 1) + QStringLiteral(". ") + entry.TipoBD + QStringLiteral(" ");
        if (isServerTag(entry.TipoBD))
            texto += entry.Servidor + QStringLiteral(".") + entry.BaseDatos;
        else
            texto += entry.RutaBD;
        texto += QLatin1Char('\n');
    }
    return texto;
}

ListPickerRequest DatabaseDirectory::menu() const
{
    const qsizetype count = m_entradas.size();
    ListPickerRequest request;
    request.Title =
        QStringLiteral("Menú de Bases de Datos (") + QString::number(count) + QStringLiteral(")");
    request.Lista = textoMenu();
    request.OmitCancel = true;
    request.Altura = 210.0 * double(count) + 1590.0;
    request.ColorFondo = RGB(231, 243, 231);
    request.XPos = 0;
    request.YPos = 0;
    return request;
}

QString DatabaseDirectory::primerDirectorioJet() const
{
    for (const DatabaseEntry& entry : m_entradas) {
        if (entry.TipoBD == QLatin1String("[JET4]"))
            return entry.RutaBD;
    }
    return {};
}

int eligeBaseDatos(const DatabaseDirectory& directorio, Interaccion& ui)
{
    const qsizetype count = directorio.entradas().size();
    if (count <= 2)
        return 1;
    const ListPickerRequest request = directorio.menu();
    for (;;) {
        bool isNumber = false;
        const int choice = ui.superListBox(request).trimmed().toInt(&isNumber);
        if (isNumber && choice >= 1 && choice <= count)
            return choice;
    }
}

} // namespace telvar
