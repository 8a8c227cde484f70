// Converts a Jet database (.mdb, .accdb) of an existing installation into
// the SQLite file Telvar opens:
//   telvar-import SOURCE.mdb TARGET [options]
// It is also the reader the import runs libmdb in (the program and the
// configuration chooser start it with the reader's arguments).
#include "common/LogText.h"
#include "common/SafeFiles.h"
#include "import/JetImport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kDescription =
    "Converts the Jet database SOURCE (an .mdb of Jet 3 or Jet 4, or an .accdb as far as "
    "mdbtools' library reads it) into the SQLite file TARGET that Telvar opens: every user "
    "table with its rows, column types and text sizes, primary key and indexes. TARGET "
    "appears only when everything was converted.";

bool readNumber(const QString& text, qint64 low, qint64 high, qint64& value)
{
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    if (!ok || n < low || n > high)
        return false;
    value = n;
    return true;
}

// The signal that asked the import to stop (SIGTERM, SIGINT, SIGHUP): the
// import then stops its reader and removes its temporary folder before
// the program leaves, as if killed by that signal.
volatile std::sig_atomic_t g_stopSignal = 0;

void askToStop(int signal)
{
    g_stopSignal = signal;
}

void stopOnSignals()
{
    struct sigaction action {};
    action.sa_handler = askToStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// Names and sentences from the Jet file (table and column names, notes,
// errors that quote them) may hold control characters: printed as they
// are, they could move the cursor, recolour or retitle the terminal, or
// begin a line of their own.
QString shown(const QString& text)
{
    return telvar::logLineText(text);
}

} // namespace

int main(int argc, char** argv)
{
    // Whatever it writes is for its owner and group only.
    ::umask(027);
    QCoreApplication app(argc, argv);
    if (const std::optional<int> code = telvar::runImportReaderIfAsked(app.arguments()))
        return *code;
    QCoreApplication::setApplicationName(QStringLiteral("telvar-import"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addPositionalArgument(QStringLiteral("SOURCE"), QStringLiteral("the Jet file"));
    parser.addPositionalArgument(QStringLiteral("TARGET"),
                                 QStringLiteral("the SQLite file to write (Telvar's file "
                                                "databases keep the .mdb name)"));
    const QCommandLineOption password(
        QStringLiteral("password"),
        QStringLiteral("Protect TARGET with this database password, as Telvar's own file "
                       "databases are (it shows in the list of processes: "
                       "--password-stdin does not)."),
        QStringLiteral("text"));
    const QCommandLineOption passwordStdin(
        QStringLiteral("password-stdin"),
        QStringLiteral("Read the database password from the first line of standard input."));
    const QCommandLineOption replace(
        QStringLiteral("replace"),
        QStringLiteral("Replace an existing TARGET (the old file is kept as TARGET.bak)."));
    const QCommandLineOption charset(
        QStringLiteral("jet3-charset"),
        QStringLiteral("The code page of a Jet 3 file's text, as iconv names it (CP1251, "
                       "CP1250, ...), when the file's own is wrong."),
        QStringLiteral("name"));
    const QCommandLineOption timeLimit(
        QStringLiteral("time-limit"),
        QStringLiteral("Stop an import that takes longer (default 3600)."),
        QStringLiteral("seconds"));
    const QCommandLineOption memoryLimit(
        QStringLiteral("memory-limit"),
        QStringLiteral("The address space of the process that reads the Jet file (default "
                       "2048; 0 unbounded)."),
        QStringLiteral("MiB"));
    const QCommandLineOption allowEmpty(
        QStringLiteral("allow-empty"),
        QStringLiteral("Convert a Jet file that holds no user table (otherwise refused: a "
                       "damaged file's catalog may list none)."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Print only errors."));
    const QCommandLineOption allowRoot(
        QString::fromLatin1(telvar::kAllowRootOnForeignFolder),
        QStringLiteral("Run as root all the same on a target folder that belongs to another "
                       "account (refused without it: run as that account, e.g. sudo -u "
                       "telvar)."));
    parser.addOptions({password, passwordStdin, replace, charset, timeLimit, memoryLimit,
                       allowEmpty, quiet, allowRoot});
    const QCommandLineOption help = parser.addHelpOption();

    const auto usage = [&](const QString& why) {
        err << "telvar-import: " << why << Qt::endl << Qt::endl << parser.helpText();
        return 2;
    };
    // The usage only prints; an option it does not know is a mistake
    // named on standard error (exit code 2), as are missing files below.
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        out << parser.helpText();
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return usage(QStringLiteral("give the Jet file and the file to write."));

    // Root writing into another account's folder would leave files that
    // account cannot use, and could be steered by what it planted there.
    if (const QString refusal = telvar::rootOnForeignFolderRefusal(
            QStringLiteral("telvar-import"), QFileInfo(positional[1]).absolutePath(),
            app.arguments().mid(1), ::geteuid(), parser.isSet(allowRoot));
        !refusal.isEmpty()) {
        err << refusal << Qt::endl;
        return 1;
    }

    telvar::ImportRequest request;
    request.source = positional[0];
    request.target = positional[1];
    request.replaceExisting = parser.isSet(replace);
    request.allowEmpty = parser.isSet(allowEmpty);
    request.jet3Charset = parser.value(charset);
    request.helper = QCoreApplication::applicationFilePath();
    if (parser.isSet(password) && parser.isSet(passwordStdin))
        return usage(QStringLiteral("--password and --password-stdin exclude each other."));
    if (parser.isSet(password))
        request.password = parser.value(password);
    if (parser.isSet(passwordStdin)) {
        std::string line;
        std::getline(std::cin, line);
        request.password = QString::fromStdString(line);
        if (request.password.endsWith(QLatin1Char('\r')))
            request.password.chop(1);
    }
    if (parser.isSet(timeLimit)) {
        qint64 seconds = 0;
        if (!readNumber(parser.value(timeLimit), 1, 7 * 24 * 3600, seconds))
            return usage(QStringLiteral("--time-limit takes a number of seconds."));
        request.limits.wallSeconds = int(seconds);
        request.limits.readerCpuSeconds = int(seconds);
    }
    if (parser.isSet(memoryLimit)) {
        qint64 mebibytes = 0;
        if (!readNumber(parser.value(memoryLimit), 0, qint64(1) << 30, mebibytes))
            return usage(QStringLiteral("--memory-limit takes a number of MiB."));
        request.limits.readerMemoryBytes = mebibytes * 1024 * 1024;
    }
    const bool talk = !parser.isSet(quiet);
    if (talk) {
        request.progress = [&out](const telvar::ConversionEvent& e) {
            if (e.kind == telvar::ConversionEvent::Kind::Format)
                out << "Format: " << shown(e.text) << Qt::endl;
            else if (e.kind == telvar::ConversionEvent::Kind::TableDone)
                out << "  " << shown(e.table.name) << ": " << e.table.rows << " rows, "
                    << e.table.columns << " columns, " << e.table.indexes << " indexes" << Qt::endl;
        };
    }

    stopOnSignals();
    request.cancelled = [] { return g_stopSignal != 0; };

    QElapsedTimer timer;
    timer.start();
    const telvar::Result<telvar::ImportSummary> imported = telvar::importJetFile(request);
    // A signal that came after the new file took its place stops nothing.
    if (const int signal = g_stopSignal; signal != 0 && !imported) {
        err << "telvar-import: stopped by signal " << signal << "; nothing was written."
            << Qt::endl;
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return 128 + signal;
    }
    if (!imported) {
        const telvar::Error& e = imported.error();
        err << "telvar-import: error " << e.number << " (" << shown(e.source)
            << "): " << shown(e.description) << Qt::endl;
        return 1;
    }
    const telvar::ImportSummary& summary = imported.value();
    if (talk) {
        out << "Imported " << summary.tables.size() << " tables, " << summary.rows()
            << " rows from " << shown(summary.source) << " into " << shown(summary.target) << " in "
            << QString::number(double(timer.elapsed()) / 1000.0, 'f', 2) << " s." << Qt::endl;
        if (!summary.backup.isEmpty())
            out << "The file it replaced is kept as " << shown(summary.backup) << Qt::endl;
        if (!summary.notes.isEmpty()) {
            out << "Not converted:" << Qt::endl;
            for (const QString& note : summary.notes)
                out << "  - " << shown(note) << Qt::endl;
        }
    }
    return 0;
}
