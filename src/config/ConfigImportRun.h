#pragma once

#include "common/Error.h"
#include "import/JetImport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class QProcess;
class QTemporaryDir;

namespace telvar {

// How far an import has come, as telvar-import tells it on its standard
// output.
struct ImportProgress {
    QString format;       // the Jet file's format, once known
    int tables = 0;       // tables converted
    qint64 rows = 0;      // their rows
    QString lastTable;    // the last table converted
    QString table;        // the table being read, when telvar-import names it
    qint64 tableRows = 0; // rows of that table read so far, when it counts them
};

// Reads telvar-import's standard output line by line: the format, each
// converted table ("  NAME: R rows, C columns, I indexes"), the notes after
// "Not converted:", and, when it prints them, the table it starts
// ("Reading table NAME") and the rows read so far ("  NAME: R rows so
// far"). Other lines are passed over.
class ImportOutput final {
public:
    void read(const QString& line);

    const ImportProgress& progress() const { return m_progress; }
    // The format, the tables and the notes read so far.
    const ImportSummary& summary() const { return m_summary; }

private:
    ImportProgress m_progress;
    ImportSummary m_summary;
    bool m_inNotes = false;
};

// The error of a telvar-import that did not succeed: the one it printed on
// its standard error ("telvar-import: error N (SOURCE): DESCRIPTION"), or,
// when it printed none, how it ended, naming the Jet file source.
Error importProcessError(const QString& source, const QByteArray& standardError, int exitCode,
                         bool crashed);

// One import of a Jet file run by telvar-import, a process of its own, so
// that the window that starts it keeps answering and can stop it at any
// moment. telvar-import writes into a folder of its own beside the target
// (the same file system); the complete file takes the target's place when
// telvar-import has succeeded (an existing target is kept as a backup, see
// FileReplacement). A cancel ends telvar-import and the reader it started
// and removes that folder: nothing is left beside the target, and an
// existing target stays as it was.
class ConfigImportRun final : public QObject {
    Q_OBJECT
public:
    explicit ConfigImportRun(QObject* parent = nullptr);
    // Cancels an import still running.
    ~ConfigImportRun() override;

    // The program run (telvar-import beside the running program unless
    // set; tests give another).
    void setProgram(const QString& program) { m_program = program; }

    // Starts converting request.source into request.target, protected by
    // request.password; an existing target is replaced only when
    // request.replaceExisting is set. An import that cannot begin is an
    // error at once (then nothing runs and finished is not emitted).
    Status start(const ImportRequest& request);

    bool isRunning() const { return m_process != nullptr; }

    // Stops a running import as described above; finished is not emitted.
    void cancel();

    // The progress of the import running or last run.
    const ImportProgress& progress() const { return m_output.progress(); }
    // Milliseconds since the import started.
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    // The process group of the running import (telvar-import and its
    // reader); 0 when none runs.
    qint64 processGroup() const { return m_group; }

    // After finished: the summary of the import (its file in the target's
    // place) or why it failed.
    const std::optional<Result<ImportSummary>>& outcome() const { return m_outcome; }

signals:
    // progress() changed.
    void progressed();
    // The import ended by itself; outcome() says how.
    void finished();

private:
    void readOutput();
    void readErrors();
    void ended(int exitCode, bool crashed);
    Result<ImportSummary> placeFile();
    void endGroup();
    void removeWorkFolder();

    QString m_program;
    ImportRequest m_request;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_work;
    qint64 m_group = 0;
    QElapsedTimer m_clock;
    ImportOutput m_output;
    QByteArray m_pendingLine;
    QByteArray m_errors;
    std::optional<Result<ImportSummary>> m_outcome;
};

} // namespace telvar
