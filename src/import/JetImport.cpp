#include "import/JetImport.h"

#include "common/ErrorNumbers.h"
#include "database/ArmaConexion.h"
#include "database/EngineLayer.h"
#include "database/FilePassword.h"
#include "database/FileReplacement.h"
#include "import/ImportErrors.h"
#include "import/JetReader.h"
#include "import/ReaderConfinement.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TELVAR_IMPORT_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TELVAR_IMPORT_ADDRESS_SANITIZER 1
#endif
#endif

namespace telvar {

namespace {

const QString kReaderMode = QStringLiteral("--read-jet-into");
const QString kAllowEmpty = QStringLiteral("--allow-empty");
// Visual Basic's number for a run the user interrupted.
constexpr long long kInterrupted = 18;
// What the reader's report and its messages may take in the caller.
constexpr qsizetype kReportLineBound = 256 * 1024;
constexpr qsizetype kMessagesKept = 4096;
constexpr qsizetype kPasswordBound = 64 * 1024;

QString readerLimits(const ImportLimits& limits)
{
    return QStringList{QString::number(limits.maxTables), QString::number(limits.maxColumns),
                       QString::number(limits.maxRowsPerTable),
                       QString::number(limits.maxValueBytes), QString::number(limits.maxTotalBytes)}
        .join(QLatin1Char(','));
}

std::optional<ImportLimits> parseReaderLimits(const QString& text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 5)
        return std::nullopt;
    qint64 values[5] = {};
    for (int i = 0; i < 5; ++i) {
        bool ok = false;
        values[i] = fields[i].toLongLong(&ok);
        if (!ok || values[i] < 0)
            return std::nullopt;
    }
    ImportLimits limits;
    limits.maxTables = int(std::min<qint64>(values[0], std::numeric_limits<int>::max()));
    limits.maxColumns = int(std::min<qint64>(values[1], std::numeric_limits<int>::max()));
    limits.maxRowsPerTable = values[2];
    limits.maxValueBytes = values[3];
    limits.maxTotalBytes = values[4];
    return limits;
}

// Flushes a file or a directory's entries to the disk; "" or why not.
// File systems that cannot sync a directory (EINVAL) count as done.
QString syncPath(const QString& path, bool directory)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          (directory ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && !(directory && error == EINVAL))
        return QString::fromLocal8Bit(std::strerror(error));
    return QString();
}

// The resident memory of the process pid in bytes; 0 when it cannot be read.
qint64 residentBytes(qint64 pid)
{
    QFile statm(QStringLiteral("/proc/%1/statm").arg(pid));
    if (pid <= 0 || !statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.read(256).split(' ');
    if (fields.size() < 2)
        return 0;
    return fields[1].toLongLong() * qint64(::sysconf(_SC_PAGESIZE));
}

// The last lines the reader wrote to its standard error (libmdb's
// warnings), printable, for a report.
QString lastMessages(const QByteArray& messages)
{
    QStringList lines;
    const QList<QByteArray> all = messages.split('\n');
    for (auto it = all.rbegin(); it != all.rend() && lines.size() < 3; ++it) {
        QString line = QString::fromUtf8(*it).trimmed();
        // libmdb follows some of its warnings with a dump of the page.
        static const QRegularExpression dump(QStringLiteral("^[0-9a-fA-F]+x\\s"));
        if (dump.match(line).hasMatch())
            continue;
        for (QChar& c : line) {
            if (!c.isPrint())
                c = QLatin1Char('?');
        }
        if (!line.isEmpty())
            lines.prepend(line.left(200));
    }
    return lines.join(QStringLiteral(" / "));
}

// Runs the reader and follows its report.
class ReaderRun final {
public:
    ReaderRun(const ImportRequest& request, const QString& helper, const QString& newFile)
        : m_request(request), m_helper(helper), m_newFile(newFile)
    {
        m_summary.source = request.source;
    }

    Result<ImportSummary> run()
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // libmdb reads these from the environment: the character set of its
        // text (read here as UTF-8), debugging switches that change what it
        // reads, and the code page of Jet 3 text, given only when asked for.
        environment.remove(QStringLiteral("MDB_ICONV"));
        environment.remove(QStringLiteral("MDBICONV"));
        environment.remove(QStringLiteral("MDBOPTS"));
        environment.remove(QStringLiteral("MDB_JET3_CHARSET"));
        if (!m_request.jet3Charset.isEmpty())
            environment.insert(QStringLiteral("MDB_JET3_CHARSET"), m_request.jet3Charset);
#ifdef TELVAR_IMPORT_ADDRESS_SANITIZER
        // The leak check at exit traces the process's threads, which the
        // reader, confined and no longer root, cannot do.
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) +
                               QStringLiteral(":detect_leaks=0"));
#endif
        const ImportLimits limits = m_request.limits;
        process.setProcessEnvironment(environment);
        const pid_t parent = ::getpid();
        process.setChildProcessModifier([limits, parent] {
            // After the fork, before the reader starts: only system calls.
            prepareReaderChild(parent);
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
#ifndef TELVAR_IMPORT_ADDRESS_SANITIZER
            // AddressSanitizer reserves terabytes of address space: in such
            // a build only the resident memory is watched (below).
            if (limits.readerMemoryBytes > 0) {
                const auto bytes = static_cast<rlim_t>(limits.readerMemoryBytes);
                const rlimit memory{bytes, bytes};
                ::setrlimit(RLIMIT_AS, &memory);
            }
#endif
            if (limits.readerCpuSeconds > 0) {
                const auto seconds = static_cast<rlim_t>(limits.readerCpuSeconds);
                const rlimit cpu{seconds, seconds + 5};
                ::setrlimit(RLIMIT_CPU, &cpu);
            }
        });
        QStringList arguments{kReaderMode, m_request.source, m_newFile, readerLimits(limits)};
        if (m_request.allowEmpty)
            arguments.append(kAllowEmpty);
        process.start(m_helper, arguments);
        if (!process.waitForStarted(30000))
            return jetImportError(ErrorNumber::ProviderNotFound, m_request.source, {},
                                  QStringLiteral("the reader of Jet files, ") + m_helper +
                                      QStringLiteral(", cannot be started: ") +
                                      process.errorString());
        process.write(m_request.password.toUtf8());
        process.closeWriteChannel();

        const QDeadlineTimer deadline(std::chrono::seconds(std::max(limits.wallSeconds, 1)));
        for (;;) {
            if (Status read = drain(process); !read) {
                stop(process);
                return read.error();
            }
            if (process.state() == QProcess::NotRunning)
                break;
            if (m_request.cancelled && m_request.cancelled()) {
                stop(process);
                return jetImportError(kInterrupted, m_request.source, m_table,
                                      QStringLiteral("the import was interrupted; nothing was "
                                                     "written."));
            }
            if (deadline.hasExpired()) {
                stop(process);
                return jetImportError(ErrorNumber::FileTooLarge, m_request.source, m_table,
                                      QStringLiteral("the import took longer than its bound of ") +
                                          QString::number(limits.wallSeconds) +
                                          QStringLiteral(" s and was stopped."));
            }
            // The bound on the address space stops most runaway readers at
            // their allocation; the resident memory is watched as well.
            if (limits.readerMemoryBytes > 0 &&
                residentBytes(process.processId()) > limits.readerMemoryBytes) {
                stop(process);
                return jetImportError(
                    ErrorNumber::DamagedFile, m_request.source, m_table,
                    QStringLiteral("its reader stopped abnormally (it passed its bound of ") +
                        QString::number(limits.readerMemoryBytes / (1024 * 1024)) +
                        QStringLiteral(" MiB of memory and was stopped): the file is damaged, or "
                                       "larger than the import's bounds."));
            }
            const int slice = int(std::min<qint64>(deadline.remainingTime(), 200));
            if (!process.waitForReadyRead(slice))
                process.waitForFinished(slice);
        }
        if (Status read = drain(process); !read)
            return read.error();

        if (m_reported) {
            Error error = *m_reported;
            if (error.number == ErrorNumber::DamagedFile ||
                error.number == ErrorNumber::NotADatabase) {
                if (const QString said = lastMessages(m_messages); !said.isEmpty())
                    error.description += QStringLiteral(" (libmdb: ") + said + QLatin1Char(')');
            }
            return error;
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || !m_ended) {
            // QProcess gives a crashed process's signal as its exit code.
            const bool crashed = process.exitStatus() != QProcess::NormalExit;
            if (crashed && process.exitCode() == SIGSYS)
                return jetImportError(
                    ErrorNumber::PermissionDenied, m_request.source, m_table,
                    QStringLiteral("its reader attempted a system call its confinement forbids "
                                   "and was killed (SIGSYS): libmdb was led astray, the file is "
                                   "damaged or hostile."));
            QString what = QStringLiteral("its reader stopped abnormally (");
            if (!crashed)
                what += QStringLiteral("exit code ") + QString::number(process.exitCode());
            else if (process.exitCode() == SIGXCPU)
                what += QStringLiteral("it passed its bound of ") +
                        QString::number(limits.readerCpuSeconds) +
                        QStringLiteral(" s of CPU time (SIGXCPU)");
            else
                what += QStringLiteral("it crashed with signal ") +
                        QString::number(process.exitCode()) +
                        QStringLiteral(", or passed its bound of ") +
                        QString::number(limits.readerMemoryBytes / (1024 * 1024)) +
                        QStringLiteral(" MiB of memory or ") +
                        QString::number(limits.readerCpuSeconds) + QStringLiteral(" s of CPU time");
            what += QStringLiteral("): the file is damaged, or larger than the import's bounds.");
            if (const QString said = lastMessages(m_messages); !said.isEmpty())
                what += QStringLiteral(" libmdb: ") + said;
            return jetImportError(ErrorNumber::DamagedFile, m_request.source, m_table, what);
        }
        return m_summary;
    }

private:
    static void stop(QProcess& process)
    {
        process.kill();
        process.waitForFinished(10000);
    }

    Error reportError(const QString& what) const
    {
        return jetImportError(ErrorNumber::DamagedFile, m_request.source, m_table,
                              QStringLiteral("the reader's report cannot be read (") + what +
                                  QStringLiteral(")."));
    }

    Status drain(QProcess& process)
    {
        m_messages += process.readAllStandardError();
        if (m_messages.size() > kMessagesKept)
            m_messages = m_messages.right(kMessagesKept);
        m_pending += process.readAllStandardOutput();
        for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n')) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            if (Status handled = handle(line); !handled)
                return handled;
        }
        if (m_pending.size() > kReportLineBound)
            return reportError(QStringLiteral("a line beyond its bound"));
        return {};
    }

    Status handle(const QByteArray& line)
    {
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        if (!document.isObject())
            return reportError(parseError.errorString());
        const QJsonObject o = document.object();
        const QString event = o.value(QLatin1String("event")).toString();
        const QString text = o.value(QLatin1String("text")).toString();
        ConversionEvent forward;
        forward.text = text;
        if (event == QLatin1String("format")) {
            m_summary.format = text;
            forward.kind = ConversionEvent::Kind::Format;
        } else if (event == QLatin1String("table")) {
            m_table = text;
            forward.kind = ConversionEvent::Kind::TableStarted;
        } else if (event == QLatin1String("done")) {
            if (m_summary.tables.size() >= m_request.limits.maxTables)
                return reportError(QStringLiteral("more tables than the bound"));
            forward.kind = ConversionEvent::Kind::TableDone;
            forward.table = {text, qint64(o.value(QLatin1String("rows")).toDouble()),
                             o.value(QLatin1String("columns")).toInt(),
                             o.value(QLatin1String("indexes")).toInt()};
            m_summary.tables.append(forward.table);
        } else if (event == QLatin1String("note")) {
            if (m_summary.notes.size() >= 100000)
                return reportError(QStringLiteral("more notes than the bound"));
            forward.kind = ConversionEvent::Kind::Note;
            m_summary.notes.append(text);
        } else if (event == QLatin1String("error")) {
            m_reported = Error{qint64(o.value(QLatin1String("number")).toDouble()),
                               o.value(QLatin1String("source")).toString(),
                               o.value(QLatin1String("description")).toString()};
            return {};
        } else if (event == QLatin1String("end")) {
            m_ended = true;
            return {};
        } else {
            return reportError(QStringLiteral("an unknown event"));
        }
        if (m_request.progress)
            m_request.progress(forward);
        return {};
    }

    const ImportRequest& m_request;
    const QString m_helper;
    const QString m_newFile;
    ImportSummary m_summary;
    QString m_table; // the table being read
    QByteArray m_pending;
    QByteArray m_messages;
    std::optional<Error> m_reported;
    bool m_ended = false;
};

// The new file opens as the program will open it (with the password) and
// holds the tables the reader reported.
Status verify(const QString& newFile, const ImportRequest& request, const ImportSummary& summary)
{
    Result<std::unique_ptr<Connection>> cn =
        EngineLayer::open(jetConnectionString(newFile, request.password));
    if (!cn)
        return cn.error();
    qint64 tables = -1;
    {
        QSqlQuery query(cn.value()->database());
        query.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' "
                                     "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' AND name <> ?"));
        query.addBindValue(QString::fromLatin1(FilePassword::kTable));
        if (query.exec() && query.next())
            tables = query.value(0).toLongLong();
    }
    cn.value()->close();
    if (tables != summary.tables.size())
        return jetImportError(ErrorNumber::DamagedFile, request.source, {},
                              QStringLiteral("the new file holds ") + QString::number(tables) +
                                  QStringLiteral(" tables where ") +
                                  QString::number(summary.tables.size()) +
                                  QStringLiteral(" were converted."));
    return {};
}

// Puts the complete new file in the target's place.
Result<QString> place(const QString& newFile, const ImportRequest& request)
{
    const QFileInfo target(request.target);
    if (!target.exists() && !target.isSymLink()) {
        if (const QString why = syncPath(newFile, false); !why.isEmpty())
            return jetImportError(ErrorNumber::PathFileAccess, request.source, {},
                                  QStringLiteral("the new file cannot be written to the disk: ") +
                                      why);
        // QFile::rename never replaces a file that appeared meanwhile.
        if (!QFile::rename(newFile, target.absoluteFilePath())) {
            if (QFileInfo::exists(request.target))
                return jetImportError(ErrorNumber::DatabaseExists, request.source, {},
                                      request.target +
                                          QStringLiteral(" appeared during the import; it is left "
                                                         "as it is."));
            return jetImportError(ErrorNumber::PathFileAccess, request.source, {},
                                  QStringLiteral("the new file cannot be named ") + request.target +
                                      QLatin1Char('.'));
        }
        (void)syncPath(target.absolutePath(), true);
        return QString();
    }
    Result<FileReplacement> replacement = FileReplacement::prepare(request.target);
    if (!replacement)
        return jetImportError(replacement.error().number, request.source, {},
                              request.target + QStringLiteral(" cannot be replaced: ") +
                                  replacement.error().description);
    Result<QString> backup = replacement.value().backUp();
    if (!backup)
        return jetImportError(backup.error().number, request.source, {},
                              request.target + QStringLiteral(" cannot be backed up: ") +
                                  backup.error().description);
    if (Status replaced = replacement.value().replaceWith(newFile); !replaced) {
        replacement.value().discardBackup();
        return jetImportError(replaced.error().number, request.source, {},
                              request.target + QStringLiteral(" cannot be replaced: ") +
                                  replaced.error().description);
    }
    return backup.value();
}

} // namespace

QString defaultImportHelper()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/telvar-import");
}

Status checkImportTarget(const ImportRequest& request)
{
    const QString& source = request.source;
    const QFileInfo target(request.target);
    if (request.target.isEmpty())
        return jetImportError(ErrorNumber::InvalidProcedureCall, source, {},
                              QStringLiteral("no file to write is named."));
    if (!target.absoluteDir().exists())
        return jetImportError(ErrorNumber::PathFileAccess, source, {},
                              QStringLiteral("the folder of ") + request.target +
                                  QStringLiteral(" does not exist."));
    if (target.exists() || target.isSymLink()) {
        if (target.isDir())
            return jetImportError(ErrorNumber::PathFileAccess, source, {},
                                  request.target + QStringLiteral(" is a folder."));
        if (!request.replaceExisting)
            return jetImportError(ErrorNumber::DatabaseExists, source, {},
                                  request.target +
                                      QStringLiteral(" already exists; it is replaced only when "
                                                     "that is asked for."));
        if (target.canonicalFilePath() == QFileInfo(source).canonicalFilePath())
            return jetImportError(ErrorNumber::InvalidProcedureCall, source, {},
                                  QStringLiteral("it cannot be converted into itself."));
    }
    return {};
}

Result<ImportSummary> importJetFile(const ImportRequest& request)
{
    const QString& source = request.source;
    const QFileInfo sourceInfo(source);
    if (source.isEmpty() || !sourceInfo.exists())
        return jetImportError(ErrorNumber::FileNotFound, source, {},
                              QStringLiteral("there is no such file."));
    if (!sourceInfo.isFile())
        return jetImportError(ErrorNumber::FileNotFound, source, {},
                              QStringLiteral("it is not a file."));

    if (Status writable = checkImportTarget(request); !writable)
        return writable.error();
    const QFileInfo target(request.target);

    const QString helper = request.helper.isEmpty() ? defaultImportHelper() : request.helper;
    if (!QFileInfo(helper).isExecutable() || QFileInfo(helper).isDir())
        return jetImportError(ErrorNumber::ProviderNotFound, source, {},
                              QStringLiteral("the reader of Jet files, ") + helper +
                                  QStringLiteral(", is missing (it is installed beside the "
                                                 "program)."));

    // The new file is written in a folder of its own beside the target (the
    // same file system, so that it can take the target's place in one step),
    // which goes with everything in it whatever the outcome.
    QTemporaryDir work(target.absoluteDir().filePath(QStringLiteral(".telvar-import-XXXXXX")));
    if (!work.isValid())
        return jetImportError(ErrorNumber::PathFileAccess, source, {},
                              QStringLiteral("no temporary folder can be made in ") +
                                  target.absolutePath() + QStringLiteral(": ") +
                                  work.errorString());
    const QString newFile = work.filePath(QStringLiteral("import.mdb"));

    Result<ImportSummary> converted = ReaderRun(request, helper, newFile).run();
    if (!converted)
        return converted.error();
    ImportSummary summary = converted.value();
    if (summary.tables.isEmpty() && !request.allowEmpty)
        return jetImportError(ErrorNumber::DamagedFile, source, {},
                              QStringLiteral("no user table was converted; a file meant to be "
                                             "empty is converted only when that is asked for."));
    if (request.cancelled && request.cancelled())
        return jetImportError(kInterrupted, source, {},
                              QStringLiteral("the import was interrupted; nothing was written."));
    if (Status verified = verify(newFile, request, summary); !verified)
        return verified.error();
    Result<QString> placed = place(newFile, request);
    if (!placed)
        return placed.error();
    summary.target = request.target;
    summary.backup = placed.value();
    return summary;
}

std::optional<int> runImportReaderIfAsked(const QStringList& arguments)
{
    if (arguments.size() < 2 || arguments[1] != kReaderMode)
        return std::nullopt;
    if (arguments.size() != 5 && !(arguments.size() == 6 && arguments[5] == kAllowEmpty))
        return 2;
    const std::optional<ImportLimits> limits = parseReaderLimits(arguments[4]);
    if (!limits)
        return 2;
    ConversionOptions options;
    options.allowEmpty = arguments.size() == 6;
    options.beforeParsing = [&arguments] { return confineReader(arguments[2]); };
    // What libmdb prints says what it failed to read, and goes to the
    // report as an error naming the table.
    JetReader::keepLibraryMessages();

    // The report goes to the caller on what was the standard output; the
    // standard output itself now goes with the standard error, so that
    // nothing libmdb prints can mix with the report.
    const int report = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (report < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return 3;
    const auto send = [report](QJsonObject object) {
        const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
        for (qsizetype done = 0; done < line.size();) {
            const ssize_t n =
                ::write(report, line.constData() + done, std::size_t(line.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += n;
        }
    };

    // The password comes on the standard input, never on the command line.
    QByteArray password;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        password.append(buffer, n);
        if (password.size() > kPasswordBound)
            return 2;
    }

    const ConversionObserver observe = [&send](const ConversionEvent& e) {
        switch (e.kind) {
        case ConversionEvent::Kind::Format:
            send({{QStringLiteral("event"), QStringLiteral("format")},
                  {QStringLiteral("text"), e.text}});
            break;
        case ConversionEvent::Kind::TableStarted:
            send({{QStringLiteral("event"), QStringLiteral("table")},
                  {QStringLiteral("text"), e.text}});
            break;
        case ConversionEvent::Kind::TableDone:
            send({{QStringLiteral("event"), QStringLiteral("done")},
                  {QStringLiteral("text"), e.table.name},
                  {QStringLiteral("rows"), double(e.table.rows)},
                  {QStringLiteral("columns"), e.table.columns},
                  {QStringLiteral("indexes"), e.table.indexes}});
            break;
        case ConversionEvent::Kind::Note:
            send({{QStringLiteral("event"), QStringLiteral("note")},
                  {QStringLiteral("text"), e.text}});
            break;
        }
    };
    const Result<ImportSummary> converted = convertJetFile(
        arguments[2], arguments[3], QString::fromUtf8(password), *limits, observe, options);
    if (!converted) {
        const Error& e = converted.error();
        send({{QStringLiteral("event"), QStringLiteral("error")},
              {QStringLiteral("number"), double(e.number)},
              {QStringLiteral("source"), e.source},
              {QStringLiteral("description"), e.description}});
        ::close(report);
        return 1;
    }
    send({{QStringLiteral("event"), QStringLiteral("end")}});
    ::close(report);
    return 0;
}

} // namespace telvar
