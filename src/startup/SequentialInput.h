#pragma once

#include "common/Error.h"
#include "startup/InstallationFiles.h"

#include <QByteArray>
#include <QString>

namespace telvar {

// Field-by-field input over an 8-bit text file, with the classic sequential
// rule: a comma or a line end (CR, LF or CR LF) ends a field; blanks around an
// unquoted field are dropped; a field that begins with a double quote runs to
// the next double quote (commas inside are kept) and whatever follows it up
// to the next separator is discarded; an empty line yields an empty field.
//
// The bytes are read as UTF-8 when the whole file is valid UTF-8 (plain ASCII
// included) and as Latin-1 otherwise, so that both the installation's
// original 8-bit files and files written on this system read as intended.
//
// Errors carry the classic run-time numbers and name the file and the field:
// 53 file not found, 75 file not readable, 62 input past the end of the file,
// 13 a field that is not a whole number, 6 a number outside the 16-bit range,
// 7 a file above its size bound.
class SequentialInput final {
public:
    // Reads the whole file, which may hold at most maxBytes.
    static Result<SequentialInput> open(const QString& path,
                                        qint64 maxBytes = kMaxInstallationFileBytes);
    SequentialInput(const QByteArray& data, const QString& path);

    const QString& path() const { return m_path; }
    // True when no byte is left: the classic EOF.
    bool atEnd() const { return m_pos >= m_data.size(); }
    // The next field; error 62 when the file has no more.
    Result<QString> next();
    // The next field converted as a decimal whole number (blanks around it and
    // a leading sign allowed) that must fit in 16 bits.
    Result<qint16> nextInteger();
    // Number of fields read so far, and the line the last one began on (1-based).
    int fieldNumber() const { return m_fieldNumber; }
    int lineNumber() const { return m_fieldLine; }

private:
    bool atSeparator() const;
    void skipBlanks();
    void skipSeparator();

    QByteArray m_data;
    QString m_path;
    bool m_utf8 = true;
    qsizetype m_pos = 0;
    int m_line = 1;
    int m_fieldNumber = 0;
    int m_fieldLine = 0;
};

} // namespace telvar
