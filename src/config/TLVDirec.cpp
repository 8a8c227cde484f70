#include "config/TLVDirec.h"

#include "common/ErrorNumbers.h"
#include "common/Modulo1.h"
#include "common/OwnTexts.h"
#include "startup/InstallationFiles.h"
#include "startup/SequentialInput.h"

#include <QSaveFile>

namespace telvar {

namespace {

Error fileError(long long number, const QString& description)
{
    return Error{number, QStringLiteral("Telvar"), description};
}

// The single field that text holds for the reader, or nothing when it holds
// more than one (or none).
std::optional<QString> singleField(const QByteArray& text)
{
    SequentialInput reader(text, QString());
    Result<QString> field = reader.next();
    if (!field || !reader.atEnd())
        return std::nullopt;
    return field.value();
}

} // namespace

QString tlvDirecPath(const Modulo1& m)
{
    return findInstallationFile(m.RutaIAU, QStringLiteral("TLVDirec.IAU"));
}

Result<QString> readConfigPath(const Modulo1& m)
{
    Result<SequentialInput> file = SequentialInput::open(tlvDirecPath(m));
    if (!file)
        return file.error();
    return file.value().next();
}

Result<QStringList> readConfigPaths(const Modulo1& m)
{
    Result<SequentialInput> file = SequentialInput::open(tlvDirecPath(m));
    if (!file)
        return file.error();
    QStringList paths;
    while (!file.value().atEnd()) {
        Result<QString> field = file.value().next();
        if (!field)
            return field.error();
        if (!field.value().isEmpty())
            paths.append(field.value());
    }
    return paths;
}

QString unstorablePathReason(const QString& path)
{
    if (path.contains(QLatin1Char(',')))
        return QStringLiteral("contains a comma, which would split it into two paths");
    if (path.contains(QLatin1Char('"')))
        return QStringLiteral("contains a double quote, which would not read back");
    if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r')))
        return QStringLiteral("contains a line break, which would split it into two paths");
    if (path != path.trimmed())
        return QStringLiteral("begins or ends with blanks, which would be dropped when read back");
    return {};
}

QString unstorablePathReason(const QString& path, int idioma)
{
    if (path.contains(QLatin1Char(',')))
        return ownText(OwnText::PathHasComma, idioma);
    if (path.contains(QLatin1Char('"')))
        return ownText(OwnText::PathHasQuote, idioma);
    if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r')))
        return ownText(OwnText::PathHasLineEnd, idioma);
    if (path != path.trimmed())
        return ownText(OwnText::PathHasOuterBlanks, idioma);
    return {};
}

std::optional<QByteArray> configPathLine(const QString& path)
{
    const QByteArray bytes = path.toUtf8();
    for (const QByteArray& line : {bytes, QByteArray('"' + bytes + '"')}) {
        if (singleField(line + "\r\n") == path)
            return line;
    }
    return std::nullopt;
}

Status writeConfigPaths(const Modulo1& m, const QStringList& paths)
{
    const QString path = tlvDirecPath(m);
    const auto invalid = [&](const QString& line, const QString& reason) {
        return fileError(ErrorNumber::InvalidProcedureCall,
                         QStringLiteral("Invalid procedure call or argument: the path \"") + line +
                             QStringLiteral("\" ") + reason + QStringLiteral(" in ") + path);
    };
    // The path in use goes first as a plain line. The older ones come from
    // the file as the reader gave them (a path with a comma, say, was quoted
    // there) and go back in whatever form reads back the same, so that none
    // of them can stop a new choice.
    QByteArray contents;
    QStringList writtenPaths;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        const QString& line = paths.at(i);
        if (i == 0) {
            if (const QString reason = unstorablePathReason(line); !reason.isEmpty())
                return invalid(line, reason);
        } else if (line.isEmpty()) {
            continue; // names no database, and would not be read back
        }
        const std::optional<QByteArray> writtenLine = configPathLine(line);
        if (!writtenLine)
            return invalid(line, QStringLiteral("cannot be written so that it reads back whole"));
        contents += *writtenLine + "\r\n";
        writtenPaths.append(line);
    }
    // The whole file must read back as the list it was made from.
    SequentialInput reader(contents, path);
    QStringList readBack;
    while (!reader.atEnd()) {
        Result<QString> field = reader.next();
        if (!field)
            return field.error();
        if (!field.value().isEmpty())
            readBack.append(field.value());
    }
    if (readBack != writtenPaths)
        return fileError(ErrorNumber::InvalidProcedureCall,
                         QStringLiteral("Invalid procedure call or argument: the paths would "
                                        "not read back from ") +
                             path);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fileError(ErrorNumber::PathFileAccess, QStringLiteral("Path/File access error: ") +
                                                          path + QStringLiteral(" (") +
                                                          file.errorString() + QStringLiteral(")"));
    if (file.write(contents) != contents.size() || !file.commit())
        return fileError(ErrorNumber::PathFileAccess, QStringLiteral("Path/File access error: ") +
                                                          path + QStringLiteral(" (") +
                                                          file.errorString() + QStringLiteral(")"));
    return {};
}

} // namespace telvar
