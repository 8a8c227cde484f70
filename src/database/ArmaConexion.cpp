#include "database/ArmaConexion.h"

#include "common/Modulo1.h"

namespace telvar {

namespace {

QString sqlServerCredentials(const ConnectionTarget& m)
{
    if (!m.UsuarioBD.trimmed().isEmpty())
        return QStringLiteral("User ID=") + m.UsuarioBD + QStringLiteral(";") +
               QStringLiteral("Password=") + m.PassBD + QStringLiteral(";");
    return QStringLiteral("Integrated Security=SSPI;");
}

} // namespace

bool isServerTag(const QString& tag)
{
    return tag == QLatin1String("[SQLSERVER]") || tag == QLatin1String("[MSOLEDBSQL]") ||
           tag == QLatin1String("[INFORMIX10]") || tag == QLatin1String("[SYBASE9]") ||
           tag == QLatin1String("[POSTGRESQL]");
}

bool isEngineTag(const QString& tag)
{
    return tag == QLatin1String(kJetTag) || isServerTag(tag);
}

QString jetConnectionString(const QString& path, const QString& passBD)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;") + QStringLiteral("Data Source=") +
           path + QStringLiteral(";") + QStringLiteral("Jet OLEDB:Database Password=") + passBD +
           QStringLiteral(";");
}

QString ArmaConexion(const Modulo1& m, const QString& Ruta)
{
    return ArmaConexion(ConnectionTarget{m.TipoBD, m.Servidor, m.UsuarioBD, m.PassBD}, Ruta);
}

QString ArmaConexion(const ConnectionTarget& m, const QString& Ruta)
{
    const QString& tipo = m.TipoBD;
    if (tipo == QLatin1String(kJetTag))
        return jetConnectionString(Ruta, m.PassBD);
    if (tipo == QLatin1String("[SQLSERVER]") || tipo == QLatin1String("[MSOLEDBSQL]")) {
        const QString provider = tipo == QLatin1String("[SQLSERVER]")
                                     ? QStringLiteral("Provider=SQLOLEDB.1;")
                                     : QStringLiteral("Provider=MSOLEDBSQL;");
        return provider + QStringLiteral("Persist Security Info=False;") +
               QStringLiteral("Data Source=") + m.Servidor + QStringLiteral(";") +
               QStringLiteral("Initial Catalog=") + Ruta + QStringLiteral(";") +
               sqlServerCredentials(m);
    }
    if (tipo == QLatin1String("[INFORMIX10]"))
        return QStringLiteral("Provider=Ifxoledbc.2;") + QStringLiteral("Data Source=") + Ruta +
               QStringLiteral("@") + m.Servidor + QStringLiteral(";") + QStringLiteral("User ID=") +
               m.UsuarioBD + QStringLiteral(";") + QStringLiteral("Password=") + m.PassBD +
               QStringLiteral(";");
    if (tipo == QLatin1String("[SYBASE9]"))
        return QStringLiteral("Provider=ASAProv.90;") + QStringLiteral("ENG=") + m.Servidor +
               QStringLiteral(";") + QStringLiteral("User ID=") + m.UsuarioBD +
               QStringLiteral(";") + QStringLiteral("Password=") + m.PassBD + QStringLiteral(";") +
               QStringLiteral("DBN=") + Ruta + QStringLiteral(";") +
               QStringLiteral("Links=TCPIP(Host=") + m.Servidor + QStringLiteral(");");
    if (tipo == QLatin1String("[POSTGRESQL]"))
        return QStringLiteral("Provider=PostgreSQL;") + QStringLiteral("Host=") + m.Servidor +
               QStringLiteral(";") + QStringLiteral("Database=") + Ruta + QStringLiteral(";") +
               QStringLiteral("User ID=") + m.UsuarioBD + QStringLiteral(";") +
               QStringLiteral("Password=") + m.PassBD + QStringLiteral(";");
    return {};
}

} // namespace telvar
