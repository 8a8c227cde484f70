#pragma once

#include <QFile>
#include <QString>

namespace telvar {

// A UTF-16 little-endian text file read line by line: the installation's
// language and company files. Code unit 10 ends a line, code unit 13 is
// dropped wherever it occurs, every other unit is taken as it is.
class UnicodeFile final {
public:
    UnicodeFile() = default;

    // Opens Arch and reads its first two bytes b0, b1: "OK" when they are the
    // mark FF FE, otherwise the decimal text of b1 * 256 + b0 ("65534" for
    // FE FF, "48111" for the UTF-8 mark EF BB). Missing bytes (a short, empty
    // or missing file) count as 0. The file stays open after the two bytes.
    QString OpenUnicode(const QString& Arch);
    // The next line without its line feed and without carriage returns; at
    // the end of the file, what is left ("" on every later call). A final odd
    // byte is read as a code unit whose high byte is 0.
    QString LineInputUnicode();
    // True when no byte is left (or the file is not open).
    bool atEnd() const;
    void close();

private:
    bool readByte(uchar& byte);

    QFile m_file;
};

// The bytes of a UTF-16 little-endian text file holding text: the mark
// FF FE, then each code unit low byte first (the form UnicodeFile reads).
QByteArray unicodeFileBytes(const QString& text);

} // namespace telvar
