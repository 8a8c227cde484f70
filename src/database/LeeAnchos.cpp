#include "database/LeeAnchos.h"

#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "common/Modulo1.h"
#include "database/EngineErrors.h"
#include "database/OpenDBOK.h"

#include <limits>

namespace telvar {

namespace {

const QString LF = QStringLiteral("\n");

struct MasterTable {
    const char* table;
    const char* key;
    const char* description;
    qint16 Modulo1::*width; // nullptr: the size is read but not kept
};

// In the order the tables are read.
const MasterTable kTables[] = {
    {"USU", "USUCLAVE", "USUDESCR", &Modulo1::AnchoUSU},
    {"EST", "ESTCLAVE", "ESTDESC1", &Modulo1::AnchoEST},
    {"MAQ", "MAQCLAVE", "MAQDESC1", &Modulo1::AnchoMAQ},
    {"PRO", "PROCLAVE", "PRODESC1", &Modulo1::AnchoPRO},
    {"FRM", "FRMCLAVE", "FRMDESC1", &Modulo1::AnchoFRM},
    {"CAR", "CARCLAVE", "CARDESC1", &Modulo1::AnchoCAR},
    {"INS", "INSCLAVE", "INSDESCR", nullptr},
};

// Start-up stops: a critical box naming the table and column.
bool stop(Interaccion& ui, const Error& error, const QString& where)
{
    ui.messageBox(
        errorReport(QStringLiteral("Module1. LeeAnchos."), error, SourceLine::Shown, where),
        BoxKind::Critical);
    return false;
}

} // namespace

bool LeeAnchos(Modulo1& m, Interaccion& ui)
{
    OpenDBOKResult opened = OpenDBOK(m, ui, {m.CadConexion, m.TipoBD});
    keepTypedPassword(m, opened);
    if (!opened)
        return false;
    // A password typed at the prompt stays in the connection string (and
    // in PassBD), so that later openings do not ask again.
    m.CadConexion = opened.Conexion;
    const std::unique_ptr<Connection>& cn = opened.cn;

    qint16 widths[std::size(kTables)] = {};
    for (std::size_t i = 0; i < std::size(kTables); ++i) {
        const MasterTable& t = kTables[i];
        const QString table = QLatin1String(t.table);
        const QString key = QLatin1String(t.key);
        const QString description = QLatin1String(t.description);

        // The table must accept the program's own query form.
        auto selected = cn->exec(QStringLiteral("Select Top 1 * from ") + table);
        if (!selected)
            return stop(ui, selected.error(), table);
        selected.value().finish();

        // Widths that are kept must be read and fit in 16 bits; the other
        // columns must exist, whatever their size (a long description
        // column is fine).
        if (t.width) {
            auto size = cn->definedSize(table, key);
            if (!size)
                return stop(ui, size.error(), table + QLatin1Char('.') + key);
            if (size.value() <= 0 || size.value() > std::numeric_limits<qint16>::max())
                return stop(ui,
                            Error{ErrorNumber::Overflow, errorSource(cn->dialect()),
                                  table + QLatin1Char('.') + key +
                                      QStringLiteral(" has a defined size of ") +
                                      QString::number(size.value()) +
                                      QStringLiteral(", outside 1 to 32767.")},
                            table + QLatin1Char('.') + key);
            widths[i] = static_cast<qint16>(size.value());
        } else if (auto info = cn->columnInfo(table, key); !info) {
            return stop(ui, info.error(), table + QLatin1Char('.') + key);
        }
        if (auto info = cn->columnInfo(table, description); !info)
            return stop(ui, info.error(), table + QLatin1Char('.') + description);
    }
    cn->close();

    // Published only once every width was read.
    for (std::size_t i = 0; i < std::size(kTables); ++i) {
        if (kTables[i].width)
            m.*(kTables[i].width) = widths[i];
    }
    return true;
}

QString AjustaAncho(const QString& Texto, int n)
{
    if (n <= 0)
        return QString();
    return (Texto + QString(n, QLatin1Char(' '))).left(n);
}

} // namespace telvar
