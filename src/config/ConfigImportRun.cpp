#include "config/ConfigImportRun.h"

#include "common/ErrorNumbers.h"
#include "database/FileReplacement.h"
#include "import/ImportErrors.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace telvar {

namespace {

// What one line of telvar-import's output, and its messages, may take here.
constexpr qsizetype kLineBound = 64 * 1024;
constexpr qsizetype kErrorsKept = 16 * 1024;
// The file telvar-import writes inside the work folder.
const QString kNewFileName = QStringLiteral("import.mdb");

// Whether a process of the group other than a zombie is still alive.
bool groupAlive(qint64 group)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool numeric = false;
        entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (command) state ppid pgrp ...": the command may hold blanks
        // and parentheses, the fields after its last ')' do not.
        const QByteArray line = stat.read(1024);
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() < 3)
            continue;
        if (fields[2].toLongLong() == group && fields[0] != "Z" && fields[0] != "X")
            return true;
    }
    return false;
}

} // namespace

void ImportOutput::read(const QString& line)
{
    static const QRegularExpression done(
        QStringLiteral("^  (.+): (\\d+) rows, (\\d+) columns, (\\d+) indexes$"));
    static const QRegularExpression soFar(QStringLiteral("^  (.+): (\\d+) rows so far$"));
    static const QRegularExpression note(QStringLiteral("^  - (.*)$"));

    if (m_inNotes) {
        if (const QRegularExpressionMatch m = note.match(line); m.hasMatch()) {
            m_summary.notes.append(m.captured(1));
            return;
        }
        m_inNotes = false;
    }
    if (line.startsWith(QLatin1String("Format: "))) {
        m_progress.format = line.mid(8);
        m_summary.format = m_progress.format;
    } else if (line.startsWith(QLatin1String("Reading table "))) {
        m_progress.table = line.mid(14);
        m_progress.tableRows = 0;
    } else if (const QRegularExpressionMatch m = done.match(line); m.hasMatch()) {
        ImportedTable table{m.captured(1), m.captured(2).toLongLong(), m.captured(3).toInt(),
                            m.captured(4).toInt()};
        m_summary.tables.append(table);
        ++m_progress.tables;
        m_progress.rows += table.rows;
        m_progress.lastTable = table.name;
        m_progress.table.clear();
        m_progress.tableRows = 0;
    } else if (const QRegularExpressionMatch r = soFar.match(line); r.hasMatch()) {
        m_progress.table = r.captured(1);
        m_progress.tableRows = r.captured(2).toLongLong();
    } else if (line == QLatin1String("Not converted:")) {
        m_inNotes = true;
    }
}

Error importProcessError(const QString& source, const QByteArray& standardError, int exitCode,
                         bool crashed)
{
    static const QRegularExpression printed(
        QStringLiteral("^telvar-import: error (-?\\d+) \\(([^)]*)\\): (.*)$"),
        QRegularExpression::MultilineOption);
    const QString text = QString::fromUtf8(standardError);
    if (const QRegularExpressionMatch m = printed.match(text); m.hasMatch() && !crashed)
        return Error{m.captured(1).toLongLong(), m.captured(2), m.captured(3).trimmed()};

    QString what =
        crashed ? QStringLiteral("telvar-import stopped abnormally")
                : QStringLiteral("telvar-import ended with exit code ") + QString::number(exitCode);
    // Its first words on the standard error say why (a usage, a library
    // that is missing).
    QString said = text.trimmed().section(QLatin1Char('\n'), 0, 0).left(300);
    for (QChar& c : said) {
        if (!c.isPrint())
            c = QLatin1Char('?');
    }
    if (!said.isEmpty())
        what += QStringLiteral(" (") + said + QLatin1Char(')');
    return jetImportError(ErrorNumber::DamagedFile, source, {}, what + QLatin1Char('.'));
}

ConfigImportRun::ConfigImportRun(QObject* parent) : QObject(parent) {}

ConfigImportRun::~ConfigImportRun()
{
    cancel();
}

Status ConfigImportRun::start(const ImportRequest& request)
{
    if (isRunning())
        return jetImportError(ErrorNumber::InvalidProcedureCall, request.source, {},
                              QStringLiteral("an import is already running."));
    m_request = request;
    m_output = ImportOutput();
    m_pendingLine.clear();
    m_errors.clear();
    m_outcome.reset();
    m_clock.invalidate();

    const QString& source = request.source;
    // telvar-import writes into the work folder and sees no target: what it
    // would check of one is checked here.
    if (Status writable = checkImportTarget(request); !writable)
        return writable;
    const QFileInfo target(request.target);
    const QString program = m_program.isEmpty() ? defaultImportHelper() : m_program;
    if (!QFileInfo(program).isExecutable() || QFileInfo(program).isDir())
        return jetImportError(ErrorNumber::ProviderNotFound, source, {},
                              QStringLiteral("the program that imports Jet files, ") + program +
                                  QStringLiteral(", is missing (it is installed beside the "
                                                 "program)."));

    auto work = std::make_unique<QTemporaryDir>(
        target.absoluteDir().filePath(QStringLiteral(".telvar-config-import-XXXXXX")));
    if (!work->isValid())
        return jetImportError(ErrorNumber::PathFileAccess, source, {},
                              QStringLiteral("no temporary folder can be made in ") +
                                  target.absolutePath() + QStringLiteral(": ") +
                                  work->errorString());

    auto process = std::make_unique<QProcess>();
    // telvar-import and the reader it starts form a process group of their
    // own, so that a cancel ends both.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    connect(process.get(), &QProcess::readyReadStandardOutput, this, &ConfigImportRun::readOutput);
    connect(process.get(), &QProcess::readyReadStandardError, this, &ConfigImportRun::readErrors);
    connect(process.get(), &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus status) {
                ended(exitCode, status != QProcess::NormalExit);
            });
    connect(process.get(), &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(-1, true);
    });
    process->start(program,
                   {source, work->filePath(kNewFileName), QStringLiteral("--password-stdin")});
    if (process->state() == QProcess::NotRunning) {
        const QString why = process->errorString();
        process->disconnect(this);
        return jetImportError(ErrorNumber::ProviderNotFound, source, {},
                              QStringLiteral("the program that imports Jet files, ") + program +
                                  QStringLiteral(", cannot be started: ") + why);
    }
    // The password goes on the standard input, never on the command line.
    process->write(request.password.toUtf8() + '\n');
    process->closeWriteChannel();
    m_group = process->processId();
    m_work = std::move(work);
    m_process = std::move(process);
    m_clock.start();
    return {};
}

void ConfigImportRun::cancel()
{
    if (!m_process)
        return;
    m_process->disconnect(this);
    endGroup();
    m_process->kill();
    m_process->waitForFinished(10000);
    m_process.reset();
    m_group = 0;
    removeWorkFolder();
}

void ConfigImportRun::readOutput()
{
    if (!m_process)
        return;
    m_pendingLine += m_process->readAllStandardOutput();
    bool changed = false;
    for (qsizetype end = m_pendingLine.indexOf('\n'); end >= 0; end = m_pendingLine.indexOf('\n')) {
        QString line = QString::fromUtf8(m_pendingLine.left(end));
        m_pendingLine.remove(0, end + 1);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        m_output.read(line);
        changed = true;
    }
    // A line without end is not progress: what came of it is dropped.
    if (m_pendingLine.size() > kLineBound)
        m_pendingLine.clear();
    if (changed)
        emit progressed();
}

void ConfigImportRun::readErrors()
{
    if (!m_process)
        return;
    m_errors += m_process->readAllStandardError();
    // Its error is its last line.
    if (m_errors.size() > kErrorsKept)
        m_errors = m_errors.right(kErrorsKept);
}

void ConfigImportRun::ended(int exitCode, bool crashed)
{
    if (!m_process)
        return;
    readOutput();
    if (!m_pendingLine.isEmpty()) {
        m_pendingLine += '\n';
        readOutput();
    }
    readErrors();
    m_process->disconnect(this);
    // A reader its program left behind goes with it.
    endGroup();
    // Not deleted from inside its own signal.
    m_process.release()->deleteLater();
    m_group = 0;

    if (crashed || exitCode != 0)
        m_outcome = importProcessError(m_request.source, m_errors, exitCode, crashed);
    else
        m_outcome = placeFile();
    removeWorkFolder();
    emit finished();
}

Result<ImportSummary> ConfigImportRun::placeFile()
{
    const QString newFile = m_work->filePath(kNewFileName);
    const QString& source = m_request.source;
    if (!QFileInfo(newFile).isFile())
        return jetImportError(ErrorNumber::DamagedFile, source, {},
                              QStringLiteral("telvar-import ended without writing the new file."));
    ImportSummary summary = m_output.summary();
    summary.source = source;
    summary.target = m_request.target;

    const QFileInfo target(m_request.target);
    if (!target.exists() && !target.isSymLink()) {
        // QFile::rename never replaces a file that appeared meanwhile.
        if (!QFile::rename(newFile, target.absoluteFilePath()))
            return jetImportError(ErrorNumber::PathFileAccess, source, {},
                                  QStringLiteral("the new file cannot be named ") +
                                      m_request.target + QLatin1Char('.'));
        return summary;
    }
    if (!m_request.replaceExisting)
        return jetImportError(ErrorNumber::DatabaseExists, source, {},
                              m_request.target +
                                  QStringLiteral(" appeared during the import; it is left as it "
                                                 "is."));
    Result<FileReplacement> replacement = FileReplacement::prepare(m_request.target);
    if (!replacement)
        return jetImportError(replacement.error().number, source, {},
                              m_request.target + QStringLiteral(" cannot be replaced: ") +
                                  replacement.error().description);
    Result<QString> backup = replacement.value().backUp();
    if (!backup)
        return jetImportError(backup.error().number, source, {},
                              m_request.target + QStringLiteral(" cannot be backed up: ") +
                                  backup.error().description);
    if (Status replaced = replacement.value().replaceWith(newFile); !replaced) {
        replacement.value().discardBackup();
        return jetImportError(replaced.error().number, source, {},
                              m_request.target + QStringLiteral(" cannot be replaced: ") +
                                  replaced.error().description);
    }
    summary.backup = backup.value();
    return summary;
}

void ConfigImportRun::endGroup()
{
    if (m_group <= 0)
        return;
    if (::kill(-pid_t(m_group), SIGKILL) != 0 && errno == ESRCH)
        return;
    // Killed processes may still be finishing a write: the work folder is
    // removed once none of them can add to it.
    const QDeadlineTimer deadline(2000);
    while (groupAlive(m_group) && !deadline.hasExpired())
        QThread::msleep(5);
}

void ConfigImportRun::removeWorkFolder()
{
    if (!m_work)
        return;
    if (!m_work->remove())
        QDir(m_work->path()).removeRecursively();
    m_work.reset();
}

} // namespace telvar
