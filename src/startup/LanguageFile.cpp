#include "startup/LanguageFile.h"

#include "common/ErrorNumbers.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "startup/InstallationFiles.h"
#include "startup/UnicodeFile.h"
#include "startup/WholeNumber.h"

#include <QList>

namespace telvar {

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Reads the file line by line, counting lines, and builds the reports, all of
// which begin with the file's name.
class LanguageFileReader final {
public:
    explicit LanguageFileReader(const QString& displayName) : m_displayName(displayName) {}

    QString open(const QString& path) { return m_file.OpenUnicode(path); }

    // False at the end of the file.
    bool readLine(QString& line)
    {
        if (m_file.atEnd())
            return false;
        line = m_file.LineInputUnicode();
        ++m_line;
        return true;
    }

    int line() const { return m_line; }

    Error failure(const QString& what, long long number = 0) const
    {
        return Error{number, m_displayName, m_displayName + QStringLiteral("\n\n") + what};
    }

    // Lines 1 to 4: whole 16-bit numbers.
    Result<qint16> readHeaderNumber(const QString& meaning)
    {
        QString text;
        const QString where = QStringLiteral("Line ") + QString::number(m_line + 1) +
                              QStringLiteral(" (") + meaning + QStringLiteral(")");
        if (!readLine(text))
            return failure(QStringLiteral("The file ends before line ") +
                               QString::number(m_line + 1) + QStringLiteral(" (") + meaning +
                               QStringLiteral(")."),
                           ErrorNumber::InputPastEndOfFile);
        const WholeNumber number = parseWholeNumber16(text);
        switch (number.outcome) {
        case WholeNumber::Outcome::Ok:
            break;
        case WholeNumber::Outcome::NotANumber:
            return failure(where + QStringLiteral(" is not a whole number: \"") + text +
                               QStringLiteral("\"."),
                           ErrorNumber::TypeMismatch);
        case WholeNumber::Outcome::Overflow:
            return failure(where + QStringLiteral(" is outside -32768..32767: ") + text.trimmed() +
                               QStringLiteral("."),
                           ErrorNumber::Overflow);
        }
        return number.value;
    }

private:
    UnicodeFile m_file;
    QString m_displayName;
    int m_line = 0;
};

QString sectionAt(int section, int line)
{
    return QStringLiteral("Section ") + QString::number(section) + QStringLiteral(", line ") +
           QString::number(line) + QStringLiteral(": ");
}

} // namespace

double classicVal(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text.at(i) == QLatin1Char(' ') || text.at(i) == QLatin1Char('\t') ||
                     text.at(i) == QLatin1Char('\n')))
        ++i;
    const qsizetype start = i;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    qsizetype digits = 0;
    while (i < n && isDigit(text.at(i))) {
        ++i;
        ++digits;
    }
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        while (i < n && isDigit(text.at(i))) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0;
    qsizetype end = i;
    if (i < n && QStringLiteral("eEdD").contains(text.at(i))) {
        qsizetype j = i + 1;
        if (j < n && (text.at(j) == QLatin1Char('+') || text.at(j) == QLatin1Char('-')))
            ++j;
        if (j < n && isDigit(text.at(j))) {
            while (j < n && isDigit(text.at(j)))
                ++j;
            end = j;
        }
    }
    QString number = text.mid(start, end - start);
    number.replace(QLatin1Char('d'), QLatin1Char('e')).replace(QLatin1Char('D'), QLatin1Char('e'));
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? value : 0;
}

Result<LanguageTable> readLanguageFile(const QString& path, const QString& RutaIAU,
                                       const QString& CodProducto)
{
    const QString displayName = RutaIAU + QStringLiteral("QLLang.IAU");
    LanguageFileReader reader(displayName);
    if (const Status size = checkFileSize(path, displayName, kMaxLanguageFileBytes); !size)
        return reader.failure(size.error().description + QStringLiteral("."), size.error().number);
    if (reader.open(path) != QLatin1String("OK"))
        return Error{0, displayName, displayName + QStringLiteral(" must be Unicode")};

    const Result<qint16> language = reader.readHeaderNumber(QStringLiteral("the language in use"));
    if (!language)
        return language.error();
    const Result<qint16> maxSection =
        reader.readHeaderNumber(QStringLiteral("the highest section number"));
    if (!maxSection)
        return maxSection.error();
    const Result<qint16> maxNumber =
        reader.readHeaderNumber(QStringLiteral("the highest message number"));
    if (!maxNumber)
        return maxNumber.error();
    const Result<qint16> languages =
        reader.readHeaderNumber(QStringLiteral("the number of languages"));
    if (!languages)
        return languages.error();

    const int S = maxSection.value();
    const int N = maxNumber.value();
    const int L = languages.value();
    if (S < 0)
        return reader.failure(QStringLiteral("Line 2: the highest section number ") +
                              QString::number(S) + QStringLiteral(" is negative."));
    if (N < 0)
        return reader.failure(QStringLiteral("Line 3: the highest message number ") +
                              QString::number(N) + QStringLiteral(" is negative."));
    if (language.value() < 1 || language.value() > L)
        return reader.failure(QStringLiteral("Line 1: the language ") +
                              QString::number(language.value()) +
                              QStringLiteral(" is outside 1..") + QString::number(L) +
                              QStringLiteral(" (line 4 gives ") + QString::number(L) +
                              QStringLiteral(" languages)."));
    const qint64 entries = qint64(S + 1) * (N + 1) * (L + 1);
    if (entries > kMaxLanguageTableEntries)
        return reader.failure(QStringLiteral("Lines 2 to 4 ask for a table of ") +
                              QString::number(entries) + QStringLiteral(" entries; at most ") +
                              QString::number(kMaxLanguageTableEntries) +
                              QStringLiteral(" are allowed."));

    LanguageTable table{language.value(), MessageTable(S, N, L)};
    const bool qualitraProduct = CodProducto.left(2) == QLatin1String("QL");
    QList<QString> row(L + 1);

    for (int k = 0; k <= S; ++k) {
        QString header;
        if (!reader.readLine(header))
            return reader.failure(
                QStringLiteral("The file ends at line ") + QString::number(reader.line()) +
                QStringLiteral(", before section ") + QString::number(k) + QStringLiteral("."));
        if (classicVal(header) != k)
            return Error{0, displayName,
                         RutaIAU + QStringLiteral("QLLANG.IAU Incorrecto\n\n") +
                             QString::number(k) + QStringLiteral(" <> ") + header};

        int m = 0;
        for (;;) {
            const int groupLine = reader.line() + 1;
            bool sectionEnded = false;
            for (int j = 1; j <= L; ++j) {
                if (!reader.readLine(row[j]))
                    return reader.failure(QStringLiteral("The file ends at line ") +
                                          QString::number(reader.line()) +
                                          QStringLiteral(", inside section ") + QString::number(k) +
                                          QStringLiteral(" (no END line closes it)."));
                if (j == 1 && row[1].startsWith(QLatin1String("END"))) {
                    sectionEnded = true;
                    break;
                }
            }
            if (sectionEnded)
                break;

            const QString tag = row[1].mid(3, 2);
            if (qualitraProduct) {
                if (tag != QLatin1String("QL"))
                    continue;
            } else if (tag == QLatin1String("RV")) {
                if (m == 0)
                    return reader.failure(sectionAt(k, groupLine) +
                                          QStringLiteral("an RV message replaces no earlier "
                                                         "message (it is the first of its "
                                                         "section)."));
                --m;
            }
            if (m > N)
                return reader.failure(sectionAt(k, groupLine) + QStringLiteral("message number ") +
                                      QString::number(m) +
                                      QStringLiteral(" is above the highest message number ") +
                                      QString::number(N) + QStringLiteral(" of line 3."));
            for (int j = 1; j <= L; ++j)
                table.Mensajes.setText(k, m, j, row[j].mid(8));
            ++m;
        }
    }
    return table;
}

bool InitIdioma(Modulo1& m, Interaccion& ui)
{
    Result<LanguageTable> table = readLanguageFile(
        findInstallationFile(m.RutaIAU, QStringLiteral("QLLang.IAU")), m.RutaIAU, m.CodProducto);
    if (!table) {
        ui.messageBox(table.error().description, BoxKind::Critical);
        return false;
    }
    m.Idioma = table.value().Idioma;
    m.messageTable = std::move(table.value().Mensajes);
    return true;
}

} // namespace telvar
