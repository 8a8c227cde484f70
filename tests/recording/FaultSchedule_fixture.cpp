#include "recording/FaultSchedule_fixture.h"

#include "common/ErrorNumbers.h"
#include "common/Modulo1.h"
#include "database/ArmaConexion.h"
#include "database/Connection.h"
#include "database/EngineErrors.h"
#include "database/EngineLayer.h"
#include "recording/GrabaQLTR.h"
#include "recording/Outbox.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QTimeZone>
#include <QTimer>
#include <QVariant>
#include <QtGlobal>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <ctime>
#include <optional>
#include <random>

namespace telvar::test {

namespace {

using Step = RecordingWriter::Step;
using Kind = ScheduleAction::Kind;

// The gathering window the writers use, in seconds.
constexpr qint64 kWindow = 300;
// How long a writer waits for another writer's lock: short, so that a
// router meeting the other's transaction gives up at once.
constexpr std::chrono::milliseconds kLockWait{1};
const QString kForma = QStringLiteral("F1");
const QString kMaqui = QStringLiteral("M1");
// Rows the SPC program adds are signed so.
const QString kForeignOperator = QStringLiteral("SPC");
// Every injected failure says so in its text.
const QString kInjected = QStringLiteral("injected: ");

// Thrown by a hook: the program ends at that moment.
struct SimulatedCrash {};

class Random final {
public:
    explicit Random(quint64 seed) : m_engine(seed) {}
    int below(int n) { return static_cast<int>(m_engine() % static_cast<quint64>(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    bool percent(int p) { return below(100) < p; }
    template <typename T> T of(std::initializer_list<T> choices)
    {
        return *(choices.begin() + below(static_cast<int>(choices.size())));
    }

private:
    std::mt19937_64 m_engine;
};

qint64 utcMs(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), QTimeZone::utc())
        .toMSecsSinceEpoch();
}

// The wall time the local clock shows at an instant, as seconds counted on
// a clock without time zone.
qint64 wallSeconds(qint64 instantMs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(instantMs).toLocalTime();
    return QDateTime(local.date(), local.time(), QTimeZone::utc()).toSecsSinceEpoch();
}

QString wallText(qint64 instantMs)
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(instantMs).toLocalTime();
    return local.toString(QStringLiteral("yyyy-MM-dd H:mm:ss"));
}

// A row's Fecha as the table gives it ("yyyy-mm-dd h:nn:ss", or a
// timestamp's text) as seconds counted on a clock without time zone.
std::optional<qint64> wallOfText(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})[ T](\\d{1,2}):(\\d{2})(?::(\\d{2}))?"));
    const auto match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                     match.hasCaptured(6) ? match.captured(6).toInt() : 0);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
}

QString stepName(Step step)
{
    switch (step) {
    case Step::BeforeMark:
        return QStringLiteral("BeforeMark");
    case Step::AfterMark:
        return QStringLiteral("AfterMark");
    case Step::AfterCommit:
        return QStringLiteral("AfterCommit");
    case Step::AfterRemove:
        return QStringLiteral("AfterRemove");
    }
    return QString();
}

QString faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return QStringLiteral("none");
    case Fault::Crash:
        return QStringLiteral("crash");
    case Fault::OutboxBusy:
        return QStringLiteral("outbox busy");
    case Fault::OutboxLocked:
        return QStringLiteral("outbox locked");
    case Fault::OutboxFull:
        return QStringLiteral("outbox disk full");
    case Fault::OutboxIoError:
        return QStringLiteral("outbox I/O error");
    case Fault::OutboxReadOnly:
        return QStringLiteral("outbox read-only");
    case Fault::OutboxDamaged:
        return QStringLiteral("outbox damaged");
    case Fault::FileBusy:
        return QStringLiteral("data file busy");
    case Fault::FileLocked:
        return QStringLiteral("data file locked");
    case Fault::FileFull:
        return QStringLiteral("data file disk full");
    case Fault::FileIoError:
        return QStringLiteral("data file I/O error");
    case Fault::FileReadOnly:
        return QStringLiteral("data file read-only");
    case Fault::FileCantOpen:
        return QStringLiteral("data file cannot be opened");
    case Fault::FileConstraint:
        return QStringLiteral("data file constraint at commit");
    case Fault::ServerReadOnly:
        return QStringLiteral("server read-only (25006)");
    case Fault::ConnectionLost:
        return QStringLiteral("connection lost");
    case Fault::ServerDiskFull:
        return QStringLiteral("server disk full (53100)");
    case Fault::LockTimeout:
        return QStringLiteral("lock timeout (55P03)");
    case Fault::SerializationFailure:
        return QStringLiteral("serialization failure (40001)");
    case Fault::AdminShutdown:
        return QStringLiteral("administrator shutdown (57P01)");
    case Fault::ServerConstraint:
        return QStringLiteral("constraint at commit (23503)");
    case Fault::OtherRouterDrains:
        return QStringLiteral("the other router drains");
    }
    return QString();
}

// The texts of the failures that waiting cannot mend, which quarantine a
// batch: a reading quarantined for one of them is explained.
bool isConstraintText(const QString& description)
{
    return description.contains(kInjected) &&
           description.contains(QLatin1String("constraint"), Qt::CaseInsensitive);
}

// A failure of the outbox's own file, as the outbox reads SQLite's codes:
// a damaged file (SQLITE_CORRUPT) is damage, the others clear by themselves.
Error outboxError(Fault fault, const QString& path)
{
    int code = 0;
    QString text;
    switch (fault) {
    case Fault::OutboxBusy:
        code = 5;
        text = QStringLiteral("database is locked");
        break;
    case Fault::OutboxLocked:
        code = 6;
        text = QStringLiteral("database table is locked");
        break;
    case Fault::OutboxFull:
        code = 13;
        text = QStringLiteral("database or disk is full");
        break;
    case Fault::OutboxIoError:
        code = 778; // SQLITE_IOERR_WRITE
        text = QStringLiteral("disk I/O error");
        break;
    case Fault::OutboxReadOnly:
        code = 8;
        text = QStringLiteral("attempt to write a readonly database");
        break;
    default:
        code = 11;
        text = QStringLiteral("database disk image is malformed");
        break;
    }
    Error error{ErrorNumber::UnspecifiedFailure, QStringLiteral("Telvar outbox"),
                path + QStringLiteral(": ") + kInjected + text};
    if ((code & 0xff) == 11)
        error.number = ErrorNumber::DamagedFile;
    else
        error.retryable = true;
    return error;
}

// A failure of the data table's commit, built as the engine layer builds it
// from what the driver reports.
Error tableError(Fault fault)
{
    const auto sqlite = [](const char* code, const char* text) {
        return engineError(SqlDialect::Sqlite,
                           QSqlError(QStringLiteral("Unable to commit"),
                                     kInjected + QLatin1String(text), QSqlError::StatementError,
                                     QLatin1String(code)),
                           ErrorPhase::Statement);
    };
    const auto postgres = [](const char* state, const char* text) {
        return engineError(SqlDialect::PostgreSql,
                           QSqlError(QStringLiteral("QPSQL: Unable to commit transaction"),
                                     kInjected + QLatin1String(text), QSqlError::TransactionError,
                                     QLatin1String(state)),
                           ErrorPhase::Statement);
    };
    switch (fault) {
    case Fault::FileBusy:
        return sqlite("5", "database is locked");
    case Fault::FileLocked:
        return sqlite("6", "database table is locked");
    case Fault::FileFull:
        return sqlite("13", "database or disk is full");
    case Fault::FileIoError:
        return sqlite("778", "disk I/O error");
    case Fault::FileReadOnly:
        return sqlite("8", "attempt to write a readonly database");
    case Fault::FileCantOpen:
        return sqlite("14", "unable to open database file");
    case Fault::FileConstraint:
        return sqlite("787", "FOREIGN KEY constraint failed");
    case Fault::ServerReadOnly:
        return postgres("25006", "ERROR:  cannot execute COMMIT in a read-only transaction");
    case Fault::ConnectionLost:
        return postgres("", "server closed the connection unexpectedly\n\tThis probably means "
                            "the server terminated abnormally");
    case Fault::ServerDiskFull:
        return postgres("53100", "ERROR:  could not extend file: No space left on device");
    case Fault::LockTimeout:
        return postgres("55P03", "ERROR:  canceling statement due to lock timeout");
    case Fault::SerializationFailure:
        return postgres("40001", "ERROR:  could not serialize access due to concurrent update");
    case Fault::AdminShutdown:
        return postgres("57P01", "FATAL:  terminating connection due to administrator command");
    default:
        return postgres("23503", "ERROR:  insert or update violates foreign key constraint");
    }
}

QString tableName(Engine engine, int product)
{
    return engine == Engine::Sqlite ? QStringLiteral("Datos")
                                    : QStringLiteral("Datos_F1_M1_P") + QString::number(product);
}

QString operatorOf(int router)
{
    return router == 0 ? QStringLiteral("OPER_A") : QStringLiteral("OPER_B");
}

QString routerName(int router)
{
    return router == 0 ? QStringLiteral("A") : QStringLiteral("B");
}

Fault tableFault(Random& random, Engine engine, const OpenFaults& open)
{
    // The same draws whatever is open, so that a seed makes the same
    // schedule; an open fault drawn and left out becomes a failure that
    // waiting mends.
    if (engine == Engine::Sqlite) {
        const Fault fault =
            random.of({Fault::FileBusy, Fault::FileLocked, Fault::FileFull, Fault::FileIoError,
                       Fault::FileReadOnly, Fault::FileCantOpen, Fault::FileConstraint});
        return fault == Fault::FileConstraint && !open.constraintAtCommit ? Fault::FileIoError
                                                                          : fault;
    }
    const Fault fault = random.of(
        {Fault::ServerReadOnly, Fault::ConnectionLost, Fault::ServerDiskFull, Fault::LockTimeout,
         Fault::SerializationFailure, Fault::AdminShutdown, Fault::ServerConstraint});
    return fault == Fault::ServerConstraint && !open.constraintAtCommit ? Fault::ServerReadOnly
                                                                        : fault;
}

Fault outboxFault(Random& random, bool damage)
{
    if (damage && random.percent(20))
        return Fault::OutboxDamaged;
    return random.of({Fault::OutboxBusy, Fault::OutboxLocked, Fault::OutboxFull,
                      Fault::OutboxIoError, Fault::OutboxReadOnly});
}

// A fault at a random step of a writer's batch.
void planDrainFault(Random& random, const Schedule& s, const OpenFaults& open, ScheduleAction& a)
{
    a.step = random.of({Step::BeforeMark, Step::AfterMark, Step::AfterCommit, Step::AfterRemove});
    if (random.percent(25)) {
        a.fault = Fault::None;
        return;
    }
    switch (a.step) {
    case Step::BeforeMark:
        a.fault = random.percent(40) ? Fault::Crash : outboxFault(random, true);
        break;
    case Step::AfterCommit:
        a.fault = random.percent(40) ? Fault::Crash : outboxFault(random, true);
        if (a.fault == Fault::OutboxDamaged && !open.damagedOutboxAtRemoval)
            a.fault = Fault::OutboxIoError;
        break;
    case Step::AfterMark:
        if (random.percent(30))
            a.fault = Fault::Crash;
        else if (s.routers == 2 && random.percent(35))
            a.fault = Fault::OtherRouterDrains;
        else
            a.fault = tableFault(random, s.engine, open);
        break;
    case Step::AfterRemove:
        // The step's error is nobody's: the removal has committed.
        a.fault = random.percent(60) ? Fault::Crash : outboxFault(random, false);
        break;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Schedules

Schedule makeSchedule(quint64 seed, Engine engine, const OpenFaults& open)
{
    Random random(seed);
    Schedule s;
    s.seed = seed;
    s.engine = engine;
    s.routers = random.percent(50) ? 2 : 1;
    s.missingFile = random.percent(20);
    s.missingColumn = random.percent(20);

    // An ordinary morning, the night the clocks go forward (01:59:59 CET
    // is followed by 03:00:00 CEST), and the night they go back (02:00 to
    // 02:59:59 shows twice: first CEST, then CET). The readings wander
    // around it: some within the window of the one before, some far from
    // it, some earlier than readings already written, some an hour apart
    // (the other pass of the hour that occurs twice).
    const qint64 base = random.of(
        {utcMs(2026, 3, 2, 6, 4, 9), utcMs(2026, 3, 29, 0, 45, 0), utcMs(2026, 10, 25, 0, 35, 0)});
    const int count = random.between(2, 8);
    qint64 t = base + qint64{random.between(-600, 600)} * 1000;
    for (int n = 1; n <= count; ++n) {
        if (n > 1) {
            const int kind = random.below(100);
            qint64 step = 0;
            if (kind < 35)
                step = random.between(0, 40);
            else if (kind < 50)
                step = random.between(200, 299);
            else if (kind < 65)
                step = random.between(301, 900);
            else if (kind < 82)
                step = -random.between(1, 600);
            else
                step = (random.percent(50) ? 1 : -1) * random.between(3300, 3900);
            t = std::clamp(t + step * 1000, base - 7200 * 1000, base + 7200 * 1000);
        }
        ScheduledReading r;
        r.number = n;
        r.router = random.below(s.routers);
        r.product = s.missingFile && random.percent(25) ? 3 : random.between(1, 2);
        r.carac =
            s.missingColumn && random.percent(25)
                ? QStringLiteral("C4")
                : random.of({QStringLiteral("C1"), QStringLiteral("C2"), QStringLiteral("C3")});
        r.stampMs = t;
        s.readings.append(r);
    }

    const auto drain = [&](int router) {
        ScheduleAction a;
        a.kind = Kind::Drain;
        a.router = router;
        planDrainFault(random, s, open, a);
        return a;
    };
    qsizetype next = 0;
    while (next < s.readings.size()) {
        // Consecutive readings of one router, handed over together.
        ScheduleAction append;
        append.kind = Kind::Append;
        append.router = s.readings[next].router;
        const int most = random.between(1, 3);
        while (next < s.readings.size() && append.readings.size() < most &&
               s.readings[next].router == append.router)
            append.readings.append(s.readings[next++].number);
        append.throughAppender = random.percent(75);
        if (append.throughAppender && random.percent(20)) {
            append.appenderStep = OutboxAppender::Step::BeforeAppend;
            append.fault = random.percent(35) ? Fault::Crash : outboxFault(random, false);
        }
        s.actions.append(append);

        const int others = random.between(0, 2);
        for (int i = 0; i < others; ++i) {
            ScheduleAction a;
            a.router = random.below(s.routers);
            const int kind = random.below(100);
            if (kind < 52) {
                s.actions.append(drain(a.router));
                continue;
            }
            if (kind < 62) {
                a.kind = Kind::ForeignRow;
                a.product = random.between(1, 2);
                a.stampMs = t + qint64{random.between(-400, 400)} * 1000;
            } else if (kind < 72) {
                a.kind = Kind::HoldTableLock;
                a.product = random.between(1, 2);
            } else if (kind < 80 && engine == Engine::Sqlite) {
                a.kind = Kind::ReadOnlyFile;
                a.product = random.between(1, 2);
            } else if (kind < 92) {
                a = drain(a.router);
                a.kind = Kind::Resend;
                a.crashAfterRequeue = random.percent(15);
            } else {
                a.kind = Kind::Restart;
                if (random.percent(40)) {
                    a.appenderStep = OutboxAppender::Step::BeforeOpen;
                    a.fault = random.percent(40) ? Fault::Crash : outboxFault(random, false);
                }
            }
            s.actions.append(a);
        }
    }
    // The last batches meet a fault too.
    for (int router = 0; router < s.routers; ++router)
        s.actions.append(drain(router));

    s.resendRouter = random.below(s.routers);
    s.resend.kind = Kind::Resend;
    s.resend.router = s.resendRouter;
    s.resend.step =
        random.of({Step::BeforeMark, Step::AfterMark, Step::AfterCommit, Step::AfterRemove});
    s.resend.fault = random.percent(45) ? Fault::Crash : Fault::None;
    s.resend.crashAfterRequeue = random.percent(15);
    s.retryMendedFirst = engine == Engine::Sqlite && s.missingFile && random.percent(50);
    s.mendWhileRunning =
        engine != Engine::Sqlite || !s.missingColumn || open.columnAddedUnderOpenConnection;
    return s;
}

namespace {

QString describeAction(const ScheduleAction& a)
{
    const QString who = routerName(a.router) + QStringLiteral(": ");
    const auto fault = [&a] {
        return a.fault == Fault::None
                   ? QString()
                   : QStringLiteral(" [") + stepName(a.step) + QStringLiteral(": ") +
                         faultName(a.fault) + QStringLiteral("]");
    };
    switch (a.kind) {
    case Kind::Append: {
        QStringList numbers;
        for (const int n : a.readings)
            numbers.append(QStringLiteral("r") + QString::number(n));
        QString text = who + QStringLiteral("append ") + numbers.join(QLatin1Char(' ')) +
                       (a.throughAppender ? QStringLiteral(" through the appender")
                                          : QStringLiteral(" to the outbox directly"));
        if (a.fault != Fault::None)
            text += QStringLiteral(" [BeforeAppend: ") + faultName(a.fault) + QStringLiteral("]");
        return text;
    }
    case Kind::Drain:
        return who + QStringLiteral("drain") + fault();
    case Kind::Resend:
        return who + QStringLiteral("send again") +
               (a.crashAfterRequeue ? QStringLiteral(", crash right after the move")
                                    : QStringLiteral(", then drain") + fault());
    case Kind::ForeignRow:
        return QStringLiteral("SPC program: a row in P") + QString::number(a.product) +
               QStringLiteral(" stamped ") + wallText(a.stampMs);
    case Kind::HoldTableLock:
        return who + QStringLiteral("drain while another connection holds P") +
               QString::number(a.product);
    case Kind::ReadOnlyFile:
        return who + QStringLiteral("drain while P") + QString::number(a.product) +
               QStringLiteral(".MDB is read-only");
    case Kind::Restart:
        return who + QStringLiteral("stop and start") +
               (a.fault == Fault::None
                    ? QString()
                    : QStringLiteral(" [BeforeOpen: ") + faultName(a.fault) + QStringLiteral("]"));
    }
    return QString();
}

} // namespace

QString Schedule::describe() const
{
    QStringList lines;
    lines.append(
        QStringLiteral("seed ") + QString::number(seed) + QStringLiteral(" on ") +
        (engine == Engine::Sqlite ? QStringLiteral("SQLite") : QStringLiteral("PostgreSQL")) +
        QStringLiteral(", ") + QString::number(routers) + QStringLiteral(" router(s)") +
        (missingFile ? QStringLiteral(", P3 missing until mended") : QString()) +
        (missingColumn ? QStringLiteral(", C4 missing until mended") : QString()));
    for (const ScheduledReading& r : readings) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(r.stampMs).toLocalTime();
        lines.append(QStringLiteral("  r") + QString::number(r.number) + QStringLiteral(" ") +
                     routerName(r.router) + QStringLiteral(" P") + QString::number(r.product) +
                     QStringLiteral(" ") + r.carac + QStringLiteral(" ") + wallText(r.stampMs) +
                     QStringLiteral(" (UTC") +
                     (local.offsetFromUtc() >= 0 ? QStringLiteral("+") : QString()) +
                     QString::number(local.offsetFromUtc() / 3600) + QStringLiteral(")"));
    }
    for (const ScheduleAction& a : actions)
        lines.append(QStringLiteral("  ") + describeAction(a));
    lines.append(QStringLiteral("  recovery; ") +
                 (missingFile || missingColumn ? QStringLiteral("mend; ") : QString()) +
                 (mendWhileRunning ? QString() : QStringLiteral("(routers stopped to mend); ")) +
                 (retryMendedFirst ? QStringLiteral("mended files sent again; ") : QString()) +
                 describeAction(resend) + QStringLiteral("; recovery"));
    return lines.join(QLatin1Char('\n'));
}

// ---------------------------------------------------------------------------
// The time zone

ProcessTimeZone::ProcessTimeZone(const char* zone)
    : m_had(qEnvironmentVariableIsSet("TZ")), m_previous(qgetenv("TZ"))
{
    qputenv("TZ", zone);
    tzset();
}

ProcessTimeZone::~ProcessTimeZone()
{
    if (m_had)
        qputenv("TZ", m_previous);
    else
        qunsetenv("TZ");
    tzset();
}

OpenFaults openFaultsFromEnvironment()
{
    // Every kind is mended: all are on unless a run names some.
    if (qEnvironmentVariableIsEmpty("TELVAR_FAULT_OPEN"))
        return OpenFaults::all();
    OpenFaults open;
    const QStringList names =
        QString::fromLocal8Bit(qgetenv("TELVAR_FAULT_OPEN")).split(QLatin1Char(','));
    for (const QString& name : names) {
        if (name == QLatin1String("all") || name == QLatin1String("1"))
            open = OpenFaults::all();
        else if (name == QLatin1String("constraint"))
            open.constraintAtCommit = true;
        else if (name == QLatin1String("column"))
            open.columnAddedUnderOpenConnection = true;
        else if (name == QLatin1String("removal"))
            open.damagedOutboxAtRemoval = true;
    }
    return open;
}

bool openFaultsRequested()
{
    return !qEnvironmentVariableIsEmpty("TELVAR_FAULT_OPEN");
}

int scheduleCount(int fallback)
{
    bool ok = false;
    const int count = qEnvironmentVariableIntValue("TELVAR_FAULT_SCHEDULES", &ok);
    return ok && count > 0 ? count : fallback;
}

quint64 firstSeed(quint64 fallback)
{
    bool ok = false;
    const quint64 seed = qgetenv("TELVAR_FAULT_SEED").toULongLong(&ok);
    return ok ? seed : fallback;
}

// ---------------------------------------------------------------------------
// The world

namespace {

// A reading found in a table's cell.
struct Found {
    int product = 0;
    qint64 n = 0;
    QString column;
};

struct QuarantineRow {
    int router = 0;
    int code = 0;
    long long reasonNumber = 0;
    QString reason;
};

struct ReadingState {
    bool kept = false; // an outbox committed it
    bool told = false; // the writer said it went to the quarantine (since last sent again)
};

class World final : public FaultWorld {
public:
    explicit World(Engine engine) : m_engine(engine) {}
    ~World() override;

    bool setUp(QString* error);
    QStringList run(const Schedule& schedule) override;

private:
    struct Router {
        QString outboxPath;
        QString rawName;
        std::unique_ptr<Outbox> inspector;
        std::unique_ptr<RecordingWriter> writer;
        std::unique_ptr<OutboxAppender> appender;
        // The readings handed to the appender and not yet committed, in
        // order.
        QList<int> held;
    };

    bool isSqlite() const { return m_engine == Engine::Sqlite; }
    QString dataFile(int product) const
    {
        return m_m.RutaDatos + kForma + QStringLiteral("/") + kMaqui + QStringLiteral("/P") +
               QString::number(product) + QStringLiteral(".MDB");
    }
    QString createStatement(int product, bool withC4) const;
    Connection* data(int product);
    bool exec(int product, const QString& statement, const QVariantList& values = {});
    bool rawOutbox(int router, const QString& statement, QList<QVariantList>* rows = nullptr);
    void broke(const QString& what) { m_broken.append(what); }

    const ScheduledReading* reading(int number) const;
    OutboxEntry entryOf(const ScheduledReading& r) const;

    void startRouter(int router, const OutboxAppender::StepHook& appenderHook = {});
    void stopRouter(int router, bool crash);
    void crashAndRestart(int router);
    void fireAppenderRetries(int router);
    RecordingWriter::StepHook hookFor(const ScheduleAction& a, int router);
    void drain(int router, const ScheduleAction& a);
    void sendAgain(int router, const ScheduleAction& a);
    void perform(const ScheduleAction& a);
    void recover();
    void mend();
    void check(bool final);
    void reset();

    Engine m_engine;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<EngineDatabase> m_db;
    Modulo1 m_m;
    // Connections of the test's own to the data tables: one per data file,
    // or one to the data database.
    std::array<std::unique_ptr<Connection>, 4> m_data;
    std::array<Router, 2> m_routers;

    const Schedule* m_schedule = nullptr;
    QHash<int, ReadingState> m_state;
    QStringList m_broken;
    bool m_columnAdded = false;
    bool m_fileMade = false;
    int m_foreignRows = 0;
    qsizetype m_resent = 0;
};

World::~World()
{
    for (int r = 0; r < 2; ++r) {
        m_routers[static_cast<std::size_t>(r)].appender.reset();
        m_routers[static_cast<std::size_t>(r)].writer.reset();
        m_routers[static_cast<std::size_t>(r)].inspector.reset();
        const QString name = m_routers[static_cast<std::size_t>(r)].rawName;
        if (!name.isEmpty()) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                if (db.isOpen())
                    db.close();
            }
            QSqlDatabase::removeDatabase(name);
        }
    }
    for (auto& cn : m_data)
        cn.reset();
}

QString World::createStatement(int product, bool withC4) const
{
    const QString n = isSqlite() ? QStringLiteral("N INTEGER PRIMARY KEY AUTOINCREMENT")
                                 : QStringLiteral("N INTEGER GENERATED BY DEFAULT AS IDENTITY "
                                                  "PRIMARY KEY");
    // P2's Fecha is a timestamp on PostgreSQL; SQLite keeps its text under
    // whatever type is declared.
    const QString fecha =
        product == 2 ? (isSqlite() ? QStringLiteral("DATETIME") : QStringLiteral("TIMESTAMP"))
                     : QStringLiteral("VARCHAR(20)");
    return QStringLiteral("CREATE TABLE ") + tableName(m_engine, product) + QStringLiteral(" (") +
           n + QStringLiteral(", Fecha ") + fecha +
           QStringLiteral(", Turno VARCHAR(10), Operador CHAR(10), C1 DOUBLE PRECISION, "
                          "C2 DOUBLE PRECISION, C3 CHAR(12)") +
           (withC4 ? QStringLiteral(", C4 DOUBLE PRECISION") : QString()) + QStringLiteral(")");
}

Connection* World::data(int product)
{
    auto& slot = m_data[static_cast<std::size_t>(isSqlite() ? product : 0)];
    if (!slot) {
        const QString conexion = isSqlite() ? jetConnectionString(dataFile(product), QString())
                                            : m_db->connectionStringFor(m_db->dataDatabaseName());
        auto opened = EngineLayer::open(conexion);
        if (!opened) {
            broke(QStringLiteral("cannot open the data table P") + QString::number(product) +
                  QStringLiteral(": ") + opened.error().description);
            return nullptr;
        }
        slot = std::move(opened.value());
    }
    return slot.get();
}

bool World::exec(int product, const QString& statement, const QVariantList& values)
{
    Connection* cn = data(product);
    if (!cn)
        return false;
    auto done = cn->exec(statement, values);
    if (!done) {
        broke(QStringLiteral("the test's own statement failed: ") + statement +
              QStringLiteral(": ") + done.error().description);
        return false;
    }
    return true;
}

bool World::rawOutbox(int router, const QString& statement, QList<QVariantList>* rows)
{
    QSqlQuery q(QSqlDatabase::database(m_routers[static_cast<std::size_t>(router)].rawName, false));
    if (!q.exec(statement)) {
        broke(QStringLiteral("the test's own outbox statement failed: ") + statement +
              QStringLiteral(": ") + q.lastError().text());
        return false;
    }
    while (rows && q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row.append(q.value(i));
        rows->append(row);
    }
    return true;
}

bool World::setUp(QString* error)
{
    // The outbox commits with a full sync: in memory when the system has
    // a memory file system, the data files too.
    m_dir = QDir(QStringLiteral("/dev/shm")).exists()
                ? std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/telvar-faults-XXXXXX"))
                : std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid()) {
        *error = QStringLiteral("no temporary directory");
        return false;
    }
    m_m.NumTurnos = 3;
    m_m.TurnoClave = {QString(), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
    m_m.TurnoHasta = {0, 600, 1400, 2200};
    if (isSqlite()) {
        m_m.TipoBD = QLatin1String(kJetTag);
        m_m.RutaDatos = m_dir->path() + QDir::separator();
        if (!QDir().mkpath(m_m.RutaDatos + kForma + QStringLiteral("/") + kMaqui)) {
            *error = QStringLiteral("cannot make the data folders");
            return false;
        }
        for (int product = 1; product <= 2; ++product) {
            if (Status made = EngineLayer::createFileDatabase(dataFile(product), QString());
                !made) {
                *error = made.error().description;
                return false;
            }
        }
    } else {
        EngineDatabaseOptions options;
        options.dataDatabase = true;
        m_db = EngineDatabase::create(Engine::PostgreSql, error, options);
        if (!m_db)
            return false;
        m_db->describeIn(m_m);
    }
    for (int product = 1; product <= 2; ++product) {
        if (!exec(product, createStatement(product, false))) {
            *error = m_broken.join(QLatin1Char('\n'));
            return false;
        }
    }
    static int worlds = 0;
    ++worlds;
    for (int r = 0; r < 2; ++r) {
        Router& router = m_routers[static_cast<std::size_t>(r)];
        router.outboxPath =
            m_dir->filePath(QStringLiteral("outbox-") + routerName(r) + QStringLiteral(".sqlite"));
        auto inspector = Outbox::open(router.outboxPath);
        if (!inspector) {
            *error = inspector.error().description;
            return false;
        }
        router.inspector = std::move(inspector.value());
        router.rawName =
            QStringLiteral("fault-schedule-outbox-") + QString::number(worlds) + routerName(r);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), router.rawName);
        db.setDatabaseName(router.outboxPath);
        if (!db.open()) {
            *error = db.lastError().text();
            return false;
        }
    }
    return true;
}

const ScheduledReading* World::reading(int number) const
{
    for (const ScheduledReading& r : m_schedule->readings)
        if (r.number == number)
            return &r;
    return nullptr;
}

OutboxEntry World::entryOf(const ScheduledReading& r) const
{
    auto entry = GrabaQLTR::entryFor(
        m_m,
        ReadingToRecord{kForma, kMaqui, QStringLiteral("P") + QString::number(r.product), r.carac,
                        operatorOf(r.router), QString::number(r.number)},
        QDateTime::fromMSecsSinceEpoch(r.stampMs));
    return entry.ok() ? entry.value() : OutboxEntry{};
}

void World::startRouter(int r, const OutboxAppender::StepHook& appenderHook)
{
    Router& router = m_routers[static_cast<std::size_t>(r)];
    router.writer = std::make_unique<RecordingWriter>(m_m, router.outboxPath);
    router.writer->setLockWait(kLockWait);
    QObject::connect(router.writer.get(), &RecordingWriter::batchDone,
                     [this, r](const BatchOutcome& outcome) {
                         for (const QuarantinedEntry& q : outcome.quarantined) {
                             const int n = q.entry.Valor.toInt();
                             m_state[n].told = true;
                             if (q.entry.Opera != operatorOf(r))
                                 broke(QStringLiteral("router ") + routerName(r) +
                                       QStringLiteral(" told of quarantining another router's r") +
                                       QString::number(n));
                         }
                     });
    QObject::connect(router.writer.get(), &RecordingWriter::resent,
                     [this](qsizetype count, bool) { m_resent += count; });
    if (Status opened = router.writer->open(); !opened)
        broke(QStringLiteral("router ") + routerName(r) +
              QStringLiteral("'s writer cannot open its outbox: ") + opened.error().description);
    router.appender = std::make_unique<OutboxAppender>(
        router.outboxPath, std::vector<RecordingWriter*>{router.writer.get()});
    QObject::connect(router.appender.get(), &OutboxAppender::appended, [this, r](qsizetype count) {
        Router& self = m_routers[static_cast<std::size_t>(r)];
        for (qsizetype i = 0; i < count && !self.held.isEmpty(); ++i)
            m_state[self.held.takeFirst()].kept = true;
    });
    router.appender->setStepHook(appenderHook);
    router.appender->start();
    router.appender->setStepHook({});
}

void World::stopRouter(int r, bool crash)
{
    Router& router = m_routers[static_cast<std::size_t>(r)];
    if (!crash && router.appender) {
        // A stop: one last try at what is held; the rest is handed back.
        const QList<OutboxEntry> left = router.appender->closeAndHandBack();
        if (left.size() != router.held.size())
            broke(QStringLiteral("router ") + routerName(r) + QStringLiteral(" handed back ") +
                  QString::number(left.size()) + QStringLiteral(" readings, held ") +
                  QString::number(router.held.size()));
    }
    // Whatever the appender still held in memory is gone with it; those
    // readings were never kept.
    router.held.clear();
    router.appender.reset();
    // Closing the writer's connections ends an uncommitted transaction as
    // the end of the process would.
    router.writer.reset();
}

void World::crashAndRestart(int r)
{
    stopRouter(r, true);
    startRouter(r);
}

void World::fireAppenderRetries(int r)
{
    Router& router = m_routers[static_cast<std::size_t>(r)];
    // The appender's backoff has run out: its timer fires now.
    for (int i = 0; i < 4 && router.appender; ++i) {
        QTimer* retry = router.appender->findChild<QTimer*>();
        if (!retry || !retry->isActive())
            return;
        retry->stop();
        if (!QMetaObject::invokeMethod(retry, "timeout", Qt::DirectConnection)) {
            broke(QStringLiteral("cannot fire the appender's retry"));
            return;
        }
    }
}

RecordingWriter::StepHook World::hookFor(const ScheduleAction& a, int r)
{
    if (a.fault == Fault::None)
        return {};
    auto fired = std::make_shared<bool>(false);
    return [this, a, r, fired](Step reached) -> Status {
        if (reached != a.step || *fired)
            return {};
        *fired = true;
        switch (a.fault) {
        case Fault::Crash:
            throw SimulatedCrash{};
        case Fault::OtherRouterDrains: {
            Router& other = m_routers[static_cast<std::size_t>(1 - r)];
            if (other.writer) {
                other.writer->rescan();
                other.writer->drain();
            }
            return {};
        }
        default:
            break;
        }
        if (a.step == Step::AfterMark)
            return tableError(a.fault);
        return outboxError(a.fault, m_routers[static_cast<std::size_t>(r)].outboxPath);
    };
}

void World::drain(int r, const ScheduleAction& a)
{
    Router& router = m_routers[static_cast<std::size_t>(r)];
    router.writer->setStepHook(hookFor(a, r));
    bool crashed = false;
    try {
        router.writer->drain();
    } catch (const SimulatedCrash&) {
        crashed = true;
    }
    if (crashed) {
        crashAndRestart(r);
        return;
    }
    router.writer->setStepHook({});
}

void World::sendAgain(int r, const ScheduleAction& a)
{
    Router& router = m_routers[static_cast<std::size_t>(r)];
    // A writer whose outbox is waiting to be opened again does not move
    // anything: the person presses Send again after a restart then.
    if (!router.writer->isOpen()) {
        stopRouter(r, false);
        startRouter(r);
    }
    qsizetype told = 0;
    for (const ScheduledReading& reading : m_schedule->readings)
        if (reading.router == r && m_state[reading.number].told)
            ++told;
    m_resent = 0;
    router.writer->resend();
    if (m_resent != told)
        broke(QStringLiteral("Send again on router ") + routerName(r) + QStringLiteral(" moved ") +
              QString::number(m_resent) + QStringLiteral(" readings; its writer had told of ") +
              QString::number(told) + QStringLiteral(" quarantined"));
    for (const ScheduledReading& reading : m_schedule->readings)
        if (reading.router == r)
            m_state[reading.number].told = false;
    if (a.crashAfterRequeue) {
        crashAndRestart(r);
        return;
    }
    drain(r, a);
}

void World::perform(const ScheduleAction& a)
{
    const int r = a.router;
    Router& router = m_routers[static_cast<std::size_t>(r)];
    switch (a.kind) {
    case Kind::Append: {
        QList<OutboxEntry> entries;
        for (const int n : a.readings)
            entries.append(entryOf(*reading(n)));
        if (!a.throughAppender) {
            // Another connection of the router's appends; the writer finds
            // them when it looks.
            if (Status appended = router.inspector->append(entries); !appended) {
                broke(QStringLiteral("a direct append failed: ") + appended.error().description);
                return;
            }
            for (const int n : a.readings)
                m_state[n].kept = true;
            router.writer->rescan();
            return;
        }
        router.held += a.readings;
        if (a.fault != Fault::None) {
            const Fault fault = a.fault;
            const QString path = router.outboxPath;
            router.appender->setStepHook(
                [fault, path, fired = false](OutboxAppender::Step) mutable -> Status {
                    if (fired)
                        return {};
                    fired = true;
                    if (fault == Fault::Crash)
                        throw SimulatedCrash{};
                    return outboxError(fault, path);
                });
        }
        bool crashed = false;
        try {
            router.appender->append(entries);
        } catch (const SimulatedCrash&) {
            crashed = true;
        }
        if (crashed) {
            crashAndRestart(r);
            return;
        }
        router.appender->setStepHook({});
        return;
    }
    case Kind::Drain:
        fireAppenderRetries(r);
        drain(r, a);
        return;
    case Kind::Resend:
        fireAppenderRetries(r);
        sendAgain(r, a);
        return;
    case Kind::ForeignRow:
        exec(a.product,
             QStringLiteral("INSERT INTO ") + tableName(m_engine, a.product) +
                 QStringLiteral(" (Fecha, Turno, Operador, C1) VALUES (?, ?, ?, ?)"),
             {wallText(a.stampMs), QStringLiteral("X"), kForeignOperator,
              -static_cast<double>(++m_foreignRows)});
        return;
    case Kind::HoldTableLock: {
        Connection* cn = data(a.product);
        if (!cn)
            return;
        const bool begun =
            isSqlite() ? exec(a.product, QStringLiteral("BEGIN IMMEDIATE"))
                       : cn->transaction().ok() &&
                             exec(a.product, QStringLiteral("LOCK TABLE ") +
                                                 tableName(m_engine, a.product) +
                                                 QStringLiteral(" IN SHARE ROW EXCLUSIVE MODE"));
        drain(r, ScheduleAction{});
        if (begun) {
            if (isSqlite())
                exec(a.product, QStringLiteral("COMMIT"));
            else if (!cn->commit())
                broke(QStringLiteral("the test's own lock did not end"));
        }
        return;
    }
    case Kind::ReadOnlyFile: {
        const QString file = dataFile(a.product);
        const auto writable = QFile::permissions(file);
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ReadOther);
        drain(r, ScheduleAction{});
        QFile::setPermissions(file, writable);
        return;
    }
    case Kind::Restart: {
        stopRouter(r, false);
        OutboxAppender::StepHook hook;
        if (a.fault != Fault::None) {
            const Fault fault = a.fault;
            const QString path = router.outboxPath;
            hook = [fault, path, fired = false](OutboxAppender::Step) mutable -> Status {
                if (fired)
                    return {};
                fired = true;
                if (fault == Fault::Crash)
                    throw SimulatedCrash{};
                return outboxError(fault, path);
            };
        }
        try {
            startRouter(r, hook);
        } catch (const SimulatedCrash&) {
            crashAndRestart(r);
        }
        return;
    }
    }
}

void World::recover()
{
    for (int r = 0; r < m_schedule->routers; ++r) {
        fireAppenderRetries(r);
        for (int attempt = 0;; ++attempt) {
            Router& router = m_routers[static_cast<std::size_t>(r)];
            router.writer->setStepHook({});
            router.writer->rescan();
            router.writer->drain();
            QList<QVariantList> left;
            if (!rawOutbox(r, QStringLiteral("SELECT count(*) FROM pending"), &left))
                return;
            if (left.value(0).value(0).toLongLong() == 0 || attempt == 5)
                break;
            // A crashed server session may hold its lock a moment longer.
            if (attempt > 0)
                QThread::msleep(20);
            // A new start: no backoff is left from the faults.
            stopRouter(r, false);
            startRouter(r);
        }
        if (m_routers[static_cast<std::size_t>(r)].appender->held() > 0)
            broke(QStringLiteral("router ") + routerName(r) +
                  QStringLiteral("'s appender still holds readings after its retries"));
    }
}

void World::mend()
{
    if (!m_schedule->mendWhileRunning) {
        for (int r = 0; r < m_schedule->routers; ++r)
            stopRouter(r, false);
    }
    if (m_schedule->missingColumn) {
        for (int product = 1; product <= 2; ++product)
            exec(product, QStringLiteral("ALTER TABLE ") + tableName(m_engine, product) +
                              QStringLiteral(" ADD COLUMN C4 DOUBLE PRECISION"));
        m_columnAdded = true;
    }
    if (m_schedule->missingFile) {
        if (isSqlite()) {
            if (Status made = EngineLayer::createFileDatabase(dataFile(3), QString()); !made)
                broke(QStringLiteral("cannot make P3.MDB: ") + made.error().description);
        }
        exec(3, createStatement(3, true));
        m_fileMade = true;
    }
    if (!m_schedule->mendWhileRunning) {
        for (int r = 0; r < m_schedule->routers; ++r)
            startRouter(r);
    }
}

void World::check(bool final)
{
    const QString when =
        final ? QStringLiteral("after Send again: ") : QStringLiteral("at the end: ");
    // Each outbox's counts are what it holds, and nothing waits.
    QHash<int, QuarantineRow> quarantined;
    for (int r = 0; r < 2; ++r) {
        Router& router = m_routers[static_cast<std::size_t>(r)];
        auto counts = router.inspector->counts();
        QList<QVariantList> pending;
        QList<QVariantList> rows;
        if (!counts || !rawOutbox(r, QStringLiteral("SELECT valor FROM pending"), &pending) ||
            !rawOutbox(r,
                       QStringLiteral("SELECT valor, code, reason_number, reason FROM quarantine"),
                       &rows)) {
            broke(when + QStringLiteral("cannot read router ") + routerName(r) +
                  QStringLiteral("'s outbox"));
            continue;
        }
        if (counts.value().pending != pending.size() || counts.value().quarantined != rows.size())
            broke(when + QStringLiteral("router ") + routerName(r) +
                  QStringLiteral("'s outbox counts ") + QString::number(counts.value().pending) +
                  QStringLiteral(" waiting and ") + QString::number(counts.value().quarantined) +
                  QStringLiteral(" quarantined; it holds ") + QString::number(pending.size()) +
                  QStringLiteral(" and ") + QString::number(rows.size()));
        for (const QVariantList& row : std::as_const(pending))
            broke(when + QStringLiteral("r") + row.value(0).toString() +
                  QStringLiteral(" still waits in router ") + routerName(r) +
                  QStringLiteral("'s outbox after a fault-free recovery"));
        for (const QVariantList& row : std::as_const(rows))
            quarantined.insert(row.value(0).toInt(),
                               QuarantineRow{r, row.value(1).toInt(), row.value(2).toLongLong(),
                                             row.value(3).toString()});
    }

    // Every cell of every table, and each row's stamp.
    QHash<int, QList<Found>> found;
    const int products = m_fileMade ? 3 : 2;
    for (int product = 1; product <= products; ++product) {
        const bool hasC4 = product == 3 || m_columnAdded;
        QStringList columns{QStringLiteral("C1"), QStringLiteral("C2"), QStringLiteral("C3")};
        if (hasC4)
            columns.append(QStringLiteral("C4"));
        Connection* cn = data(product);
        if (!cn)
            return;
        const QString fecha = !isSqlite() && product == 2 ? QStringLiteral("CAST(Fecha AS TEXT)")
                                                          : QStringLiteral("Fecha");
        auto q = cn->exec(QStringLiteral("SELECT N, ") + fecha + QStringLiteral(", Operador, ") +
                          columns.join(QStringLiteral(", ")) + QStringLiteral(" FROM ") +
                          tableName(m_engine, product) + QStringLiteral(" ORDER BY N"));
        if (!q) {
            broke(when + QStringLiteral("cannot read P") + QString::number(product) +
                  QStringLiteral(": ") + q.error().description);
            continue;
        }
        while (q.value().next()) {
            const qint64 n = q.value().value(0).toLongLong();
            const QString stampText = q.value().value(1).toString();
            const QString operador = q.value().value(2).toString().trimmed();
            const QString where = QStringLiteral("P") + QString::number(product) +
                                  QStringLiteral(" row N=") + QString::number(n) +
                                  QStringLiteral(" (") + stampText + QStringLiteral(")");
            const auto rowWall = wallOfText(stampText);
            if (!rowWall) {
                broke(when + where + QStringLiteral(": its Fecha cannot be read"));
                continue;
            }
            bool madeByOne = false;
            for (int c = 0; c < columns.size(); ++c) {
                const QVariant cell = q.value().value(3 + c);
                if (cell.isNull())
                    continue;
                bool isNumber = false;
                const double value = cell.toString().trimmed().toDouble(&isNumber);
                if (!isNumber || value < 1 || value != std::floor(value) || value > 1000)
                    continue;
                const int number = static_cast<int>(value);
                found[number].append(Found{product, n, columns[c]});
                const ScheduledReading* r = reading(number);
                if (!r) {
                    broke(when + where + QStringLiteral(" holds ") + cell.toString() +
                          QStringLiteral(", no reading of the schedule"));
                    continue;
                }
                const qint64 readingWall = wallSeconds(r->stampMs);
                if (readingWall < *rowWall || readingWall > *rowWall + kWindow)
                    broke(when + where + QStringLiteral(" holds r") + QString::number(number) +
                          QStringLiteral(" stamped ") + wallText(r->stampMs) +
                          QStringLiteral(", outside the row's window"));
                if (readingWall == *rowWall)
                    madeByOne = true;
            }
            if (!madeByOne && operador != kForeignOperator)
                broke(when + where + QStringLiteral(" was made by none of the readings it holds"));
        }
    }

    for (const ScheduledReading& r : m_schedule->readings) {
        const QString name = QStringLiteral("r") + QString::number(r.number);
        const ReadingState state = m_state.value(r.number);
        const QList<Found> cells = found.value(r.number);
        const auto q = quarantined.constFind(r.number);
        const bool inQuarantine = q != quarantined.cend();
        if (!state.kept) {
            // Lost with an appender's memory before any outbox kept it.
            if (!cells.isEmpty() || inQuarantine)
                broke(when + name + QStringLiteral(" was never kept, yet it is ") +
                      (inQuarantine ? QStringLiteral("in a quarantine")
                                    : QStringLiteral("in a table")));
            continue;
        }
        if (cells.size() > 1) {
            QStringList places;
            for (const Found& f : cells)
                places.append(QStringLiteral("P") + QString::number(f.product) +
                              QStringLiteral(" N=") + QString::number(f.n) + QStringLiteral(" ") +
                              f.column);
            broke(when + name + QStringLiteral(" is recorded ") + QString::number(cells.size()) +
                  QStringLiteral(" times: ") + places.join(QStringLiteral(", ")));
        }
        if (cells.size() == 1 && (cells[0].product != r.product || cells[0].column != r.carac))
            broke(when + name + QStringLiteral(" is in P") + QString::number(cells[0].product) +
                  QStringLiteral(" ") + cells[0].column + QStringLiteral(", not its own table's ") +
                  r.carac);
        if (!cells.isEmpty() && inQuarantine)
            broke(when + name + QStringLiteral(" is both in its table and in the quarantine (") +
                  q->reason + QStringLiteral(")"));
        if (cells.isEmpty() && !inQuarantine)
            broke(when + name + QStringLiteral(" is neither in its table nor in the quarantine"));
        if (inQuarantine) {
            if (final)
                broke(when + name + QStringLiteral(" is still in the quarantine once mended: ") +
                      q->reason);
            if (q->router != r.router)
                broke(when + name + QStringLiteral(" is in the other router's quarantine"));
            if (q->reason.isEmpty() || (q->code == 0 && q->reasonNumber == 0))
                broke(when + name + QStringLiteral(" is quarantined without a reason"));
            const bool ownCause = (r.product == 3 && !m_fileMade) ||
                                  (r.carac == QLatin1String("C4") && !m_columnAdded);
            if (!ownCause && !isConstraintText(q->reason))
                broke(when + name +
                      QStringLiteral(" is quarantined though nothing keeps it out of its table: ") +
                      q->reason);
        }
        if (state.told != inQuarantine)
            broke(when + name +
                  (inQuarantine ? QStringLiteral(" is in the quarantine, but no batch told so")
                                : QStringLiteral(" was told quarantined, but it is not there")));
    }
}

void World::reset()
{
    // Routers run on from one schedule to the next unless the tables
    // change under them.
    if (m_columnAdded || m_fileMade) {
        for (int r = 0; r < 2; ++r)
            stopRouter(r, false);
    }
    for (int r = 0; r < 2; ++r) {
        rawOutbox(r, QStringLiteral("DELETE FROM pending"));
        rawOutbox(r, QStringLiteral("DELETE FROM quarantine"));
    }
    for (int product = 1; product <= 2; ++product) {
        exec(product, QStringLiteral("DELETE FROM ") + tableName(m_engine, product));
        if (m_columnAdded)
            exec(product, QStringLiteral("ALTER TABLE ") + tableName(m_engine, product) +
                              QStringLiteral(" DROP COLUMN C4"));
    }
    if (m_fileMade) {
        if (isSqlite()) {
            m_data[3].reset();
            QFile::remove(dataFile(3));
        } else {
            exec(3, QStringLiteral("DROP TABLE ") + tableName(m_engine, 3));
        }
    }
    m_columnAdded = false;
    m_fileMade = false;
}

QStringList World::run(const Schedule& schedule)
{
    m_schedule = &schedule;
    m_state.clear();
    m_broken.clear();
    for (int r = 0; r < schedule.routers; ++r) {
        if (!m_routers[static_cast<std::size_t>(r)].writer)
            startRouter(r);
    }
    for (const ScheduleAction& a : schedule.actions)
        perform(a);
    recover();
    check(false);

    mend();
    for (int r = 0; r < schedule.routers; ++r) {
        if (r == schedule.resendRouter && schedule.retryMendedFirst) {
            // The writer's own look at the quarantine: the readings of a
            // data file that is there now go back.
            qsizetype told = 0;
            for (const ScheduledReading& reading : schedule.readings)
                if (reading.router == r && reading.product == 3 && m_state[reading.number].told)
                    ++told;
            m_resent = 0;
            m_routers[static_cast<std::size_t>(r)].writer->retryMended();
            if (m_resent != told)
                broke(QStringLiteral("the mended file's check moved ") + QString::number(m_resent) +
                      QStringLiteral(" readings; its writer had told of ") + QString::number(told) +
                      QStringLiteral(" quarantined"));
            for (const ScheduledReading& reading : schedule.readings)
                if (reading.router == r && reading.product == 3)
                    m_state[reading.number].told = false;
        }
        sendAgain(r, r == schedule.resendRouter ? schedule.resend : ScheduleAction{});
    }
    recover();
    check(true);
    reset();
    m_schedule = nullptr;
    return m_broken;
}

} // namespace

std::unique_ptr<FaultWorld> FaultWorld::create(Engine engine, QString* error)
{
    auto world = std::make_unique<World>(engine);
    if (!world->setUp(error))
        return nullptr;
    return world;
}

FaultWorld::~FaultWorld() = default;

} // namespace telvar::test
