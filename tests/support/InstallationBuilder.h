#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace telvar::test {

// A language file (QLLang.IAU) described as a table: the four header values
// and, per section, its message groups in file order.
class LanguageFileBuilder final {
public:
    struct Group {
        QString tag;       // product tag, characters 4-5 of the group's first line
        QStringList texts; // one per language, language 1 first
    };

    LanguageFileBuilder(qint16 idioma, int maxSection, int maxNumber, int languages);

    // Places a "QL" group at position number of section (filling the gap with
    // empty "QL" groups), or replaces the texts of the group already there.
    LanguageFileBuilder& setMessage(int section, int number, const QStringList& texts);
    // Appends a group with any tag ("QL", "RV", ...) to section.
    LanguageFileBuilder& addGroup(int section, const QString& tag, const QStringList& texts);

    // The file's lines: the header values, then for every section 0..maxSection
    // its number, its groups (8-character prefix "nnnTTjjj" then the text) and
    // "END".
    QStringList lines() const;

private:
    qint16 m_idioma;
    int m_maxSection;
    int m_maxNumber;
    int m_languages;
    QMap<int, QList<Group>> m_sections;
};

// Lays out an installation for tests in a (temporary) program directory: the
// directory itself and its installation files directory IAu. Every write
// returns the path written and fails the current test when it cannot write.
class InstallationBuilder final {
public:
    // The messages the start-up shows, in the standard language file
    // (language 1 Spanish, language 2 English).
    static QString anotherInstanceMessage(int idioma);  // (0, 75)
    static QString readOnlyMessage(int idioma);         // (4, 16)
    static QString databaseNotFoundMessage(int idioma); // (5, 6)
    static QString correctThePathMessage(int idioma);   // (5, 7)

    explicit InstallationBuilder(const QString& programDir);

    // The program directory and IAu, both ending in "/".
    const QString& programDir() const { return m_programDir; }
    QString iauDir() const { return m_programDir + QStringLiteral("IAu/"); }

    // Files in IAu. name may include a subpath; missing directories are made.
    QString writeBytes(const QString& name, const QByteArray& bytes) const;
    // UTF-16 little-endian with the mark FF FE, lines ended by CR LF (the last
    // one too unless finalLineEnd is false).
    QString writeUnicode(const QString& name, const QStringList& lines,
                         bool finalLineEnd = true) const;
    // 8-bit text (Latin-1), lines ended by CR LF.
    QString write8Bit(const QString& name, const QStringList& lines) const;

    QString writeCompany(const QString& empresa, const QString& codProducto) const;
    QString writeLanguage(const LanguageFileBuilder& language) const;
    // QLTRPASS.IAU holding the encoded form of plain between double quotes.
    QString writePassword(const QString& plain) const;
    // QLDirec.iau: "[IMAGE]", an unused field, then the given lines as they are.
    QString writeDirectory(const QStringList& entryLines) const;
    // QLTurn.IAU from (identifier, hhnn limit) pairs.
    QString writeShifts(const QList<QPair<QString, int>>& shifts) const;
    // CARATULA<idioma>.JPG, a grey picture of the given size in pixels.
    QString writeCover(int idioma, int width, int height) const;
    // An empty file database Qualitra.MDB in directory (absolute, ending in "/").
    QString writeJetDatabase(const QString& directory) const;

    // A complete working installation: company "Planta Norte" / "QLTR",
    // the standard language file (language 1), one "[JET4]" entry whose
    // directory programDir + "Datos/" holds Qualitra.MDB, three shifts
    // (M 1400, T 2200, N 2400), covers for languages 1 and 2 (64 x 48), no
    // password file.
    void writeComplete() const;

    // The standard language file: 2 languages, sections 0..5, numbers 0..80,
    // holding the start-up messages above.
    static LanguageFileBuilder standardLanguage(qint16 idioma = 1);
    // The line QLTRPASS.IAU must hold for plain (quotes included);
    // std::nullopt when plain holds a character outside 33..126 or is too
    // long to encode.
    static std::optional<QByteArray> encodePassword(const QString& plain);
    // A baseline grey JPEG of the given size (1..65535 pixels each way).
    static QByteArray jpeg(int width, int height);
    // lines as UTF-16 little-endian with the mark, CR LF line ends.
    static QByteArray utf16(const QStringList& lines, bool finalLineEnd = true);

private:
    QString m_programDir;
};

} // namespace telvar::test
