#include "startup/DatabaseDirectory.h"

#include "common/ErrorNumbers.h"
#include "database/ArmaConexion.h"
#include "startup/SequentialInput.h"

namespace telvar {

Result<DatabaseDirectory> DatabaseDirectory::read(const QString& path)
{
    Result<SequentialInput> opened = SequentialInput::open(path);
    if (!opened)
        return opened.error();
    SequentialInput& input = opened.value();

    DatabaseDirectory directory;
    if (input.atEnd())
        return directory;
    const Result<QString> header = input.next();
    if (!header)
        return header.error();
    if (header.value().trimmed() != QLatin1String("[IMAGE]"))
        return directory;
    directory.m_currentFormat = true;
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
                Error error = value.error();
                error.description += QStringLiteral(" (the ") + entry.TipoBD +
                                     QStringLiteral(" entry is incomplete)");
                return error;
            }
            *field = value.value();
        }
        if (directory.m_entries.size() == kMaxEntries)
            return Error{ErrorNumber::SubscriptOutOfRange, QStringLiteral("Telvar"),
                         QStringLiteral("Subscript out of range: ") + path +
                             QStringLiteral(" lists more than ") + QString::number(kMaxEntries) +
                             QStringLiteral(" databases (entry ") +
                             QString::number(kMaxEntries + 1) + QStringLiteral(" at line ") +
                             QString::number(input.lineNumber()) + QStringLiteral(")")};
        directory.m_entries.append(entry);
    }
    return directory;
}

QString DatabaseDirectory::menuText() const
{
    QString text;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const DatabaseEntry& entry = m_entries.at(i);
        text += QString::number(i + 1) + QStringLiteral(". ") + entry.TipoBD + QStringLiteral(" ");
        if (isServerTag(entry.TipoBD))
            text += entry.Servidor + QStringLiteral(".") + entry.BaseDatos;
        else
            text += entry.RutaBD;
        text += QLatin1Char('\n');
    }
    return text;
}

ListPickerRequest DatabaseDirectory::menu() const
{
    const qsizetype count = m_entries.size();
    ListPickerRequest request;
    request.Title =
        QStringLiteral("Menú de Bases de Datos (") + QString::number(count) + QStringLiteral(")");
    request.Lista = menuText();
    request.OmitCancel = true;
    request.Altura = 210.0 * double(count) + 1590.0;
    request.ColorFondo = RGB(231, 243, 231);
    request.XPos = 0;
    request.YPos = 0;
    return request;
}

QString DatabaseDirectory::firstJetDirectory() const
{
    for (const DatabaseEntry& entry : m_entries) {
        if (entry.TipoBD == QLatin1String("[JET4]"))
            return entry.RutaBD;
    }
    return {};
}

int chooseDatabase(const DatabaseDirectory& directory, Interaccion& ui)
{
    const qsizetype count = directory.entries().size();
    if (count <= 2)
        return 1;
    const ListPickerRequest request = directory.menu();
    for (;;) {
        bool isNumber = false;
        const int choice = ui.superListBox(request).trimmed().toInt(&isNumber);
        if (isNumber && choice >= 1 && choice <= count)
            return choice;
    }
}

} // namespace telvar
