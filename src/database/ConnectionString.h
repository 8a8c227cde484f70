#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace telvar {

// One "Key=Value" field of a connection string and where its parts lie.
struct ConnectionField {
    QString key;              // trimmed
    QString value;            // exactly as written
    qsizetype keyStart = 0;   // where the key, as written, starts
    qsizetype valueStart = 0; // just after the "="
    qsizetype valueEnd = 0;   // the ";" that closes the value, or the end of the string
};

// The fields of an OLE DB style connection string as ArmaConexion builds
// them. Those strings write every value raw: a password or a path may hold
// ";", "=" or quotes. So a value is not cut at the next ";" but read by the
// strings' known layout: it runs to the ";" that is followed by the key that
// may come next in the layout of the string's provider and "=", or, for the
// last field, to the string's final ";" (or its end). For a password
// followed by another field (SQL Anywhere's "DBN"), the last such ";" is
// taken, so that the whole password stays one value. Keys outside a layout
// end at the next ";" that starts any known key of these strings, or at the
// final ";". Keys are matched without regard to case and surrounding blanks.
class ConnectionFields final {
public:
    static ConnectionFields parse(const QString& connectionString);

    // The value of the first field named key; std::nullopt when absent.
    std::optional<QString> value(const QString& key) const;
    // The value of the first field named key, "" when absent.
    QString text(const QString& key) const { return value(key).value_or(QString()); }
    bool contains(const QString& key) const { return value(key).has_value(); }

    const QList<ConnectionField>& fields() const { return m_fields; }

    // The field whose password a report masks: the first one whose key, as
    // written, ends in "Password" right before its "=" ("Password",
    // "Jet OLEDB:Database Password"); nullptr when there is none.
    const ConnectionField* maskedPasswordField() const;

private:
    QList<ConnectionField> m_fields;
    std::optional<qsizetype> m_masked; // index of maskedPasswordField()
};

// Conexion with the value of the password field a report masks replaced by
// password, written raw as ArmaConexion writes it. A string without such a
// field is returned unchanged.
QString replacePasswordField(const QString& Conexion, const QString& password);

} // namespace telvar
