#include "config/ConfigGridModel.h"

#include "common/ErrorReport.h"
#include "common/Interaccion.h"
#include "database/Connection.h"
#include "database/EngineErrors.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace telvar {

namespace {

enum class Tabla { Config, Reloj };

struct ColumnaEditable {
    const char* campo;
    Tabla tabla;
    bool entera;
};

// The columns a grid edit may write: HTMCONFI's own columns except its key,
// and the interval of the port's clock.
constexpr ColumnaEditable kEditables[] = {
    {"Descr", Tabla::Config, false}, {"WebPg", Tabla::Config, false},
    {"Ident", Tabla::Config, false}, {"Inici", Tabla::Config, true},
    {"Longi", Tabla::Config, true},  {"Estac", Tabla::Config, false},
    {"Maqui", Tabla::Config, false}, {"Produ", Tabla::Config, false},
    {"Forma", Tabla::Config, false}, {"Carac", Tabla::Config, false},
    {"Opera", Tabla::Config, false}, {"Reloj", Tabla::Config, true},
    {"Inter", Tabla::Reloj, true},
};

const ColumnaEditable* editable(const QString& campo)
{
    for (const ColumnaEditable& c : kEditables) {
        if (campo.compare(QLatin1String(c.campo), Qt::CaseInsensitive) == 0)
            return &c;
    }
    return nullptr;
}

RuntimeError errorSql(Dialecto dialecto, const QSqlError& error, const QString& contexto)
{
    RuntimeError e = engineError(dialecto, error, ErrorPhase::Statement);
    e.descripcion = contexto + QStringLiteral(": ") + e.descripcion;
    return e;
}

RuntimeError errorValor(long long numero, const QString& descripcion)
{
    return RuntimeError{numero, QStringLiteral("Telvar"), descripcion};
}

} // namespace

ConfigGridModel::ConfigGridModel(Interaccion& ui, QObject* parent)
    : QSqlQueryModel(parent), m_ui(ui)
{
}

ConfigGridModel::~ConfigGridModel()
{
    // The query must let go of the connection before the connection closes.
    clear();
}

Status ConfigGridModel::bind(std::unique_ptr<Connection> cn, const QString& recordSource)
{
    unbind();
    if (!cn)
        return errorValor(ErrorNumber::ConnectionNotOpen,
                          QStringLiteral("The connection cannot be used: it is not open"));
    m_cn = std::move(cn);
    m_recordSource = recordSource;

    m_anchosTexto.clear();
    for (const ColumnaEditable& c : kEditables) {
        if (c.entera || c.tabla != Tabla::Config)
            continue;
        // A text column whose size cannot be read is written unchecked: the
        // width check has already vouched for the key columns.
        const Result<int> ancho =
            m_cn->definedSize(QStringLiteral("HTMCONFI"), QLatin1String(c.campo));
        if (ancho && ancho.value() > 0)
            m_anchosTexto.insert(QString::fromLatin1(c.campo).toUpper(), ancho.value());
    }
    Status leido = ejecutaRecordSource();
    if (!leido)
        unbind();
    return leido;
}

void ConfigGridModel::unbind()
{
    clear();
    limpiaFilas();
    m_cn.reset();
}

void ConfigGridModel::limpiaFilas()
{
    m_filaDePuert.clear();
    m_puertosRepetidos.clear();
    m_filasAmbiguas.clear();
    m_escritos.clear();
}

Status ConfigGridModel::setRecordSource(const QString& recordSource)
{
    m_recordSource = recordSource;
    return refresh();
}

Status ConfigGridModel::refresh()
{
    if (!m_cn)
        return errorValor(ErrorNumber::ConnectionNotOpen,
                          QStringLiteral("The connection cannot be used: it is not open"));
    return ejecutaRecordSource();
}

Status ConfigGridModel::ejecutaRecordSource()
{
    QSqlQuery query(m_cn->database());
    const QString sql = m_cn->sql(m_recordSource);
    if (!query.prepare(sql) || !query.exec()) {
        const RuntimeError error = errorSql(m_cn->dialecto(), query.lastError(), sql);
        clear();
        limpiaFilas();
        return error;
    }
    limpiaFilas();
    setQuery(std::move(query));
    // All rows are read now, so that the statement does not keep the
    // database file locked against the other connections' writes.
    while (canFetchMore())
        fetchMore();
    if (lastError().isValid())
        return errorSql(m_cn->dialecto(), lastError(), sql);

    // A row is written by its Puert: a row without one, or one whose Puert
    // another row shares, cannot be told apart and is only shown.
    const int puert = columnOf(QStringLiteral("Puert"));
    if (puert >= 0) {
        for (int fila = 0; fila < rowCount(); ++fila) {
            const QVariant valor = QSqlQueryModel::data(index(fila, puert));
            if (valor.isNull()) {
                m_filasAmbiguas.insert(fila);
                continue;
            }
            const int numero = valor.toInt();
            if (const auto otra = m_filaDePuert.constFind(numero); otra != m_filaDePuert.cend()) {
                m_puertosRepetidos.insert(numero);
                m_filasAmbiguas.insert(otra.value());
                m_filasAmbiguas.insert(fila);
            }
            m_filaDePuert.insert(numero, fila);
        }
    }
    emit leido();
    return {};
}

void ConfigGridModel::setCaptions(const QHash<QString, QString>& captionsPorCampo)
{
    m_captions.clear();
    for (auto it = captionsPorCampo.cbegin(); it != captionsPorCampo.cend(); ++it)
        m_captions.insert(it.key().toUpper(), it.value());
    if (columnCount() > 0)
        emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int ConfigGridModel::columnOf(const QString& campo) const
{
    const QSqlRecord campos = record();
    for (int i = 0; i < campos.count(); ++i) {
        if (campos.fieldName(i).compare(campo, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

ConfigRow ConfigGridModel::row(int fila) const
{
    QSqlRecord valores = record(fila);
    for (auto it = m_escritos.cbegin(); it != m_escritos.cend(); ++it) {
        if (it.key().first == fila)
            valores.setValue(it.key().second, it.value());
    }
    return ConfigRow::desde(valores);
}

QVariant ConfigGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        const auto it = m_escritos.constFind({index.row(), index.column()});
        if (it != m_escritos.cend())
            return it.value();
        return QSqlQueryModel::data(index, role);
    }
    const QString campo = record().fieldName(index.column());
    if (role == Qt::TextAlignmentRole) {
        // Whole numbers line up on their last digit.
        const ColumnaEditable* columna = editable(campo);
        const bool entera = columna
                                ? columna->entera
                                : campo.compare(QStringLiteral("Puert"), Qt::CaseInsensitive) == 0;
        if (entera)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    }
    if (role == Qt::ToolTipRole) {
        // A text cut off by its column can be read whole.
        const ColumnaEditable* columna = editable(campo);
        if (columna && !columna->entera)
            return data(index, Qt::DisplayRole);
        return {};
    }
    return QSqlQueryModel::data(index, role);
}

std::optional<int> ConfigGridModel::rowOfPuert(int puert) const
{
    const auto it = m_filaDePuert.constFind(puert);
    if (it == m_filaDePuert.cend())
        return std::nullopt;
    return it.value();
}

bool ConfigGridModel::esEditable(const QString& campo) const
{
    return m_cn != nullptr && editable(campo) != nullptr;
}

Result<QVariant> ConfigGridModel::valorParaColumna(const QString& campo,
                                                   const QVariant& valor) const
{
    const ColumnaEditable* columna = editable(campo);
    const QString nombre = QLatin1String(columna->campo);
    const QString texto = valor.isNull() ? QString() : valor.toString();
    if (columna->entera) {
        const QString limpio = texto.trimmed();
        if (limpio.isEmpty())
            return QVariant(QMetaType::fromType<qlonglong>());
        bool esNumero = false;
        const qlonglong numero = limpio.toLongLong(&esNumero);
        if (!esNumero)
            return errorValor(ErrorNumber::TypeMismatch,
                              QStringLiteral("Type mismatch: ") + nombre +
                                  QStringLiteral(" takes a whole number, not \"") + texto +
                                  QStringLiteral("\""));
        const bool esReloj = nombre == QLatin1String("Reloj");
        const qlonglong minimo =
            esReloj ? 0 : (columna->tabla == Tabla::Reloj ? 0 : -2147483647 - 1);
        const qlonglong maximo = esReloj ? 10 : 2147483647;
        if (numero < minimo || numero > maximo)
            return errorValor(ErrorNumber::Overflow,
                              QStringLiteral("Overflow: ") + nombre +
                                  QStringLiteral(" takes a whole number from ") +
                                  QString::number(minimo) + QStringLiteral(" to ") +
                                  QString::number(maximo) + QStringLiteral(", not ") +
                                  QString::number(numero));
        return QVariant(numero);
    }
    if (texto.isEmpty())
        return QVariant(QMetaType::fromType<QString>());
    const auto ancho = m_anchosTexto.constFind(campo.toUpper());
    if (ancho != m_anchosTexto.cend() && texto.size() > ancho.value())
        return errorValor(ErrorNumber::FieldTooSmall,
                          QStringLiteral("The field is too small to accept the amount of data you "
                                         "attempted to add: ") +
                              nombre + QStringLiteral(" holds at most ") +
                              QString::number(ancho.value()) + QStringLiteral(" characters, \"") +
                              texto + QStringLiteral("\" has ") + QString::number(texto.size()));
    return QVariant(texto);
}

Result<QVariant> ConfigGridModel::escribe(int puert, const QString& campo, const QVariant& valor)
{
    if (!m_cn)
        return errorValor(ErrorNumber::ConnectionNotOpen,
                          QStringLiteral("The connection cannot be used: it is not open"));
    const ColumnaEditable* columna = editable(campo);
    if (!columna)
        return errorValor(ErrorNumber::CannotUpdate, QStringLiteral("Cannot update: the column ") +
                                                         campo + QStringLiteral(" is read-only"));
    const std::optional<int> fila = rowOfPuert(puert);
    if (!fila)
        return errorValor(ErrorNumber::NoCurrentRecord,
                          QStringLiteral("No current record: port ") + QString::number(puert) +
                              QStringLiteral(" is not in the configuration"));
    if (m_puertosRepetidos.contains(puert))
        return errorValor(ErrorNumber::CannotUpdate,
                          QStringLiteral("Cannot update: port ") + QString::number(puert) +
                              QStringLiteral(" is in more than one row of HTMCONFI; give "
                                             "each row a port number of its own first"));
    Result<QVariant> nuevo = valorParaColumna(campo, valor);
    if (!nuevo)
        return nuevo.error();

    const QString nombre = QLatin1String(columna->campo);
    QString sentencia;
    QString tabla;
    QString donde;
    QVariantList valores{nuevo.value()};
    if (columna->tabla == Tabla::Config) {
        sentencia = QStringLiteral("UPDATE HTMCONFI SET ") + nombre +
                    QStringLiteral(" = ? WHERE Puert = ?");
        valores.append(puert);
        tabla = QStringLiteral("HTMCONFI");
        donde = QStringLiteral("port ") + QString::number(puert);
    } else {
        const std::optional<int> clave = row(*fila).Clave;
        if (!clave)
            return errorValor(ErrorNumber::CannotUpdate,
                              QStringLiteral("Cannot update: port ") + QString::number(puert) +
                                  QStringLiteral(" has no clock whose interval could change"));
        sentencia = QStringLiteral("UPDATE HTMRELOJ SET INTER = ? WHERE CLAVE = ?");
        valores.append(*clave);
        tabla = QStringLiteral("HTMRELOJ");
        donde = QStringLiteral("clock ") + QString::number(*clave);
    }
    if (Status escrito = escribeUnaFila(sentencia, valores, tabla, donde); !escrito)
        return escrito.error();
    return nuevo.value();
}

Status ConfigGridModel::escribeUnaFila(const QString& sentencia, const QVariantList& valores,
                                       const QString& tabla, const QString& donde)
{
    // The key may have been left ambiguous by another program since the rows
    // were read (a file without a primary key): the change stands only when
    // it reached exactly the one row it is meant for.
    QSqlDatabase db = m_cn->database();
    if (!db.transaction())
        return errorSql(m_cn->dialecto(), db.lastError(),
                        QStringLiteral("starting the change of ") + donde);
    int cambiadas = 0;
    {
        Result<QSqlQuery> hecho = m_cn->exec(sentencia, valores);
        if (!hecho) {
            db.rollback();
            return hecho.error();
        }
        cambiadas = hecho.value().numRowsAffected();
    }
    if (cambiadas != 1) {
        db.rollback();
        if (cambiadas == 0)
            return errorValor(ErrorNumber::NoCurrentRecord,
                              QStringLiteral("No current record: ") + donde +
                                  QStringLiteral(" is no longer in ") + tabla);
        return errorValor(ErrorNumber::CannotUpdate,
                          QStringLiteral("Cannot update: the change to ") + donde +
                              QStringLiteral(" would change ") + QString::number(cambiadas) +
                              QStringLiteral(" rows of ") + tabla +
                              QStringLiteral(" that share its key; nothing was changed"));
    }
    if (!db.commit()) {
        const RuntimeError error = errorSql(m_cn->dialecto(), db.lastError(),
                                            QStringLiteral("saving the change of ") + donde);
        db.rollback();
        return error;
    }
    return {};
}

Status ConfigGridModel::escribeCampo(int puert, const QString& campo, const QVariant& valor)
{
    Result<QVariant> escrito = escribe(puert, campo, valor);
    if (!escrito)
        return escrito.error();
    if (Status leido = ejecutaRecordSource(); !leido)
        return leido;
    emit campoEscrito(puert, QLatin1String(editable(campo)->campo));
    return {};
}

void ConfigGridModel::avisa(const RuntimeError& error)
{
    m_ui.mensaBox(errorReport(QStringLiteral("Telvar. DBGrid1."), error), BoxKind::Exclamation, 5);
}

void ConfigGridModel::releeTrasEdicion()
{
    m_relecturaPendiente = false;
    if (!m_cn)
        return;
    if (Status leido = ejecutaRecordSource(); !leido)
        avisa(leido.error());
}

Qt::ItemFlags ConfigGridModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QSqlQueryModel::flags(index);
    if (!index.isValid())
        return f;
    const QString campo = record().fieldName(index.column());
    if (!esEditable(campo) || m_filasAmbiguas.contains(index.row()))
        return f;
    // A port without a clock row has no interval to edit.
    if (editable(campo)->tabla == Tabla::Reloj && !row(index.row()).Clave)
        return f;
    return f | Qt::ItemIsEditable;
}

bool ConfigGridModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || !(flags(index) & Qt::ItemIsEditable))
        return false;
    // Nothing to write when the cell keeps its value.
    const QVariant actual = QSqlQueryModel::data(index, Qt::EditRole);
    if (actual.toString() == value.toString() && actual.isNull() == value.toString().isEmpty())
        return false;

    const int puert = row(index.row()).Puert;
    const QString campo = record().fieldName(index.column());
    Result<QVariant> escrito = escribe(puert, campo, value);
    if (!escrito) {
        avisa(escrito.error());
        // The cell shows the stored value again.
        emit dataChanged(index, index);
        return false;
    }
    // The cell shows what was stored; the rows are read again (other
    // columns may follow, such as the interval of a new clock) once the
    // grid has finished with its editor.
    m_escritos.insert({index.row(), index.column()},
                      escrito.value().isNull() ? QVariant() : escrito.value());
    emit dataChanged(index, index);
    if (!m_relecturaPendiente) {
        m_relecturaPendiente = true;
        QMetaObject::invokeMethod(this, &ConfigGridModel::releeTrasEdicion, Qt::QueuedConnection);
    }
    emit campoEscrito(puert, QLatin1String(editable(campo)->campo));
    return true;
}

QVariant ConfigGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        const auto it = m_captions.constFind(record().fieldName(section).toUpper());
        if (it != m_captions.cend())
            return it.value();
    }
    return QSqlQueryModel::headerData(section, orientation, role);
}

} // namespace telvar
