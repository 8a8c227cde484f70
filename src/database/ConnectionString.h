#pragma once

#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace telvar {

// The fields of an OLE DB style connection string: "Key=Value;" pairs in
// order. Keys are matched without regard to case and surrounding blanks; a
// value is everything after the first "=" up to the next ";", or, when it
// starts with a double or single quote, everything up to the matching quote
// (a doubled quote inside stands for one). Values keep their blanks.
class ConnectionFields final {
public:
    static ConnectionFields parse(const QString& connectionString);

    // The value of the first field named key; std::nullopt when absent.
    std::optional<QString> value(const QString& key) const;
    // The value of the first field named key, "" when absent.
    QString text(const QString& key) const { return value(key).value_or(QString()); }
    bool contains(const QString& key) const { return value(key).has_value(); }

    const QList<std::pair<QString, QString>>& fields() const { return m_fields; }

private:
    QList<std::pair<QString, QString>> m_fields;
};

// Conexion with the value of its first "Password=" field (the one a report
// masks, "Jet OLEDB:Database Password=" included) replaced by password; the
// value is quoted when it holds a ";" or starts with a quote or a blank. A
// string without "Password=" is returned unchanged.
QString replacePasswordField(const QString& Conexion, const QString& password);

// The end (exclusive) of the field value that starts at valueStart in text:
// the closing quote of a quoted value, or the next ";" (or the end of text).
qsizetype fieldValueEnd(const QString& text, qsizetype valueStart);

} // namespace telvar
