#include "support/InstallationBuilder.h"

#include "startup/Password.h"
#include "startup/UnicodeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace telvar::test {

namespace {

QString prefix(qsizetype group, const QString& tag, int language)
{
    return QStringLiteral("%1%2%3")
        .arg(group, 3, 10, QLatin1Char('0'))
        .arg(tag.left(2), 2, QLatin1Char(' '))
        .arg(language, 3, 10, QLatin1Char('0'));
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString() << ": "
                      << file.errorString().toStdString();
    return path;
}

void appendMarker(QByteArray& out, uchar marker, const QByteArray& payload)
{
    out.append(char(0xFF));
    out.append(char(marker));
    const int length = int(payload.size()) + 2;
    out.append(char(length >> 8));
    out.append(char(length & 0xFF));
    out.append(payload);
}

} // namespace

LanguageFileBuilder::LanguageFileBuilder(qint16 idioma, int maxSection, int maxNumber,
                                         int languages)
    : m_idioma(idioma), m_maxSection(maxSection), m_maxNumber(maxNumber), m_languages(languages)
{
}

LanguageFileBuilder& LanguageFileBuilder::setMessage(int section, int number,
                                                     const QStringList& texts)
{
    QList<Group>& groups = m_sections[section];
    while (groups.size() <= number)
        groups.append(Group{QStringLiteral("QL"), {}});
    groups[number] = Group{QStringLiteral("QL"), texts};
    return *this;
}

LanguageFileBuilder& LanguageFileBuilder::addGroup(int section, const QString& tag,
                                                   const QStringList& texts)
{
    m_sections[section].append(Group{tag, texts});
    return *this;
}

QStringList LanguageFileBuilder::lines() const
{
    QStringList out{QString::number(m_idioma), QString::number(m_maxSection),
                    QString::number(m_maxNumber), QString::number(m_languages)};
    for (int k = 0; k <= m_maxSection; ++k) {
        out.append(QString::number(k));
        const QList<Group> groups = m_sections.value(k);
        for (qsizetype g = 0; g < groups.size(); ++g) {
            for (int j = 1; j <= m_languages; ++j)
                out.append(prefix(g, groups[g].tag, j) + groups[g].texts.value(j - 1));
        }
        out.append(QStringLiteral("END"));
    }
    return out;
}

QString InstallationBuilder::anotherInstanceMessage(int idioma)
{
    return idioma == 1 ? QStringLiteral("El programa ya se está ejecutando.")
                       : QStringLiteral("The program is already running.");
}

QString InstallationBuilder::readOnlyMessage(int idioma)
{
    return idioma == 1 ? QStringLiteral("La base de datos es de sólo lectura.")
                       : QStringLiteral("The database is read-only.");
}

QString InstallationBuilder::databaseNotFoundMessage(int idioma)
{
    return idioma == 1 ? QStringLiteral("No se encuentra la base de datos.")
                       : QStringLiteral("The database cannot be found.");
}

QString InstallationBuilder::correctThePathMessage(int idioma)
{
    return idioma == 1 ? QStringLiteral("Revise el archivo") : QStringLiteral("Check the file");
}

InstallationBuilder::InstallationBuilder(const QString& programDir)
    : m_programDir(QDir(programDir).absolutePath() + QLatin1Char('/'))
{
    if (!QDir().mkpath(iauDir()))
        ADD_FAILURE() << "cannot create " << iauDir().toStdString();
}

QString InstallationBuilder::writeBytes(const QString& name, const QByteArray& bytes) const
{
    return writeFile(iauDir() + name, bytes);
}

QString InstallationBuilder::writeUnicode(const QString& name, const QStringList& lines,
                                          bool finalLineEnd) const
{
    return writeBytes(name, utf16(lines, finalLineEnd));
}

QString InstallationBuilder::write8Bit(const QString& name, const QStringList& lines) const
{
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += line.toLatin1() + "\r\n";
    return writeBytes(name, bytes);
}

QString InstallationBuilder::writeCompany(const QString& empresa, const QString& codProducto) const
{
    return writeUnicode(QStringLiteral("QLCompa.iau"),
                        {empresa, codProducto, QStringLiteral("unused")});
}

QString InstallationBuilder::writeLanguage(const LanguageFileBuilder& language) const
{
    return writeUnicode(QStringLiteral("QLLang.IAU"), language.lines());
}

QString InstallationBuilder::writePassword(const QString& plain) const
{
    const std::optional<QByteArray> line = encodePassword(plain);
    if (!line)
        ADD_FAILURE() << "password cannot be encoded: " << plain.toStdString();
    return writeBytes(QStringLiteral("QLTRPASS.IAU"), line.value_or(QByteArray()) + "\r\n");
}

QString InstallationBuilder::writeDirectory(const QStringList& entryLines) const
{
    return write8Bit(QStringLiteral("QLDirec.iau"),
                     QStringList{QStringLiteral("[IMAGE],\"Qualitra\"")} + entryLines);
}

QString InstallationBuilder::writeShifts(const QList<QPair<QString, int>>& shifts) const
{
    QStringList lines{QString::number(shifts.size())};
    for (const auto& shift : shifts)
        lines.append(QLatin1Char('"') + shift.first + QStringLiteral("\",") +
                     QString::number(shift.second));
    return write8Bit(QStringLiteral("QLTurn.IAU"), lines);
}

QString InstallationBuilder::writeCover(int idioma, int width, int height) const
{
    return writeBytes(QStringLiteral("CARATULA%1.JPG").arg(idioma), jpeg(width, height));
}

QString InstallationBuilder::writeJetDatabase(const QString& directory) const
{
    return writeFile(directory + QStringLiteral("Qualitra.MDB"), QByteArray());
}

void InstallationBuilder::writeComplete() const
{
    writeCompany(QStringLiteral("Planta Norte"), QStringLiteral("QLTR"));
    writeLanguage(standardLanguage(1));
    const QString datos = m_programDir + QStringLiteral("Datos/");
    writeJetDatabase(datos);
    writeDirectory({QStringLiteral("[JET4],\"") + datos + QLatin1Char('"')});
    writeShifts(
        {{QStringLiteral("M"), 1400}, {QStringLiteral("T"), 2200}, {QStringLiteral("N"), 2400}});
    writeCover(1, 64, 48);
    writeCover(2, 64, 48);
}

LanguageFileBuilder InstallationBuilder::standardLanguage(qint16 idioma)
{
    LanguageFileBuilder language(idioma, 5, 80, 2);
    language.setMessage(0, 75, {anotherInstanceMessage(1), anotherInstanceMessage(2)});
    language.setMessage(4, 16, {readOnlyMessage(1), readOnlyMessage(2)});
    language.setMessage(5, 6, {databaseNotFoundMessage(1), databaseNotFoundMessage(2)});
    language.setMessage(5, 7, {correctThePathMessage(1), correctThePathMessage(2)});
    return language;
}

std::optional<QByteArray> InstallationBuilder::encodePassword(const QString& plain)
{
    return telvar::encodePassword(plain);
}

// A grey baseline JPEG: one component, quantisation 1, and Huffman tables
// with a single one-bit code each, so every 8 x 8 block is "DC difference 0,
// end of block" = two zero bits.
QByteArray InstallationBuilder::jpeg(int width, int height)
{
    QByteArray out("\xFF\xD8", 2);
    appendMarker(out, 0xE0, QByteArray("JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 14));
    appendMarker(out, 0xDB, QByteArray(1, '\0') + QByteArray(64, '\x01'));
    QByteArray frame("\x08", 1);
    frame.append(char(height >> 8)).append(char(height & 0xFF));
    frame.append(char(width >> 8)).append(char(width & 0xFF));
    frame.append(QByteArray("\x01\x01\x11\x00", 4));
    appendMarker(out, 0xC0, frame);
    QByteArray oneCode(16, '\0');
    oneCode[0] = 1;
    appendMarker(out, 0xC4, QByteArray(1, '\x00') + oneCode + QByteArray(1, '\0'));
    appendMarker(out, 0xC4, QByteArray(1, '\x10') + oneCode + QByteArray(1, '\0'));
    appendMarker(out, 0xDA, QByteArray("\x01\x01\x00\x00\x3F\x00", 6));

    const qint64 blocks = qint64((width + 7) / 8) * ((height + 7) / 8);
    const qint64 bits = 2 * blocks;
    QByteArray scan(qsizetype(bits / 8), '\0');
    if (const int used = int(bits % 8))
        scan.append(char((1 << (8 - used)) - 1));
    out.append(scan);
    out.append("\xFF\xD9", 2);
    return out;
}

QByteArray InstallationBuilder::utf16(const QStringList& lines, bool finalLineEnd)
{
    QString text = lines.join(QStringLiteral("\r\n"));
    if (finalLineEnd && !lines.isEmpty())
        text += QStringLiteral("\r\n");
    return unicodeFileBytes(text);
}

} // namespace telvar::test
