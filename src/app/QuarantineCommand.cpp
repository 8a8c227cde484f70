#include "app/QuarantineCommand.h"

#include "common/ErrorNumbers.h"
#include "common/LogText.h"
#include "common/SafeFiles.h"
#include "recording/GrabaQLTR.h"
#include "recording/Outbox.h"
#include "startup/InstallationFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>
#include <algorithm>
#include <array>
#include <functional>
#include <thread>

namespace telvar {

namespace {

const QString kSource = QStringLiteral("Telvar quarantine");

Error failure(long long number, const QString& description)
{
    return Error{number, kSource, description};
}

// Page text shown on a terminal: no control character (escape sequences,
// line breaks, tabs among them) and no bidirectional override, which could
// make a line read as something else.
QString shownText(const QString& text)
{
    QString shown = logLineText(text);
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if (u == 0x061C || u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E) ||
            (u >= 0x2066 && u <= 0x2069))
            c = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

QString readAt(const OutboxEntry& entry)
{
    return entry.stamp.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A reading refused before its table was reached carries what was missing
// as its code; any other carries the error its table gave.
long long reasonNumber(const QuarantinedEntry& q)
{
    return q.code != CodeErr::Recorded ? static_cast<long long>(q.code) : q.reason.number;
}

QString reasonText(const QuarantinedEntry& q)
{
    switch (q.code) {
    case CodeErr::NoFormatDirectory:
        return QStringLiteral("missing format directory ") + q.reason.description;
    case CodeErr::NoMachineDirectory:
        return QStringLiteral("missing machine directory ") + q.reason.description;
    case CodeErr::NoDataFile:
        return QStringLiteral("missing data file ") + q.reason.description;
    case CodeErr::Recorded:
        break;
    }
    return q.reason.description;
}

// Every reading of the quarantine in id order, a page at a time.
Status forEachPage(const Outbox& outbox,
                   const std::function<Status(const QList<QuarantinedEntry>&)>& take)
{
    qint64 after = 0;
    for (;;) {
        auto page = outbox.quarantinedAfter(after, QuarantineCommand::kPageSize);
        if (!page)
            return page.error();
        if (page.value().isEmpty())
            return {};
        if (Status taken = take(page.value()); !taken)
            return taken;
        after = page.value().constLast().entry.id;
        if (page.value().size() < QuarantineCommand::kPageSize)
            return {};
    }
}

// The listing's columns: heading, whether it is a number (right-aligned),
// and the text of a reading.
struct ListColumn {
    QString heading;
    bool number;
    std::function<QString(const QuarantinedEntry&)> text;
};

const std::array<ListColumn, 7>& listColumns()
{
    static const std::array<ListColumn, 7> columns = {{
        {QStringLiteral("id"), true,
         [](const QuarantinedEntry& q) { return QString::number(q.entry.id); }},
        {QStringLiteral("read at"), false,
         [](const QuarantinedEntry& q) { return readAt(q.entry); }},
        {QStringLiteral("port"), true,
         [](const QuarantinedEntry& q) { return QString::number(q.entry.Puert); }},
        {QStringLiteral("data table"), false,
         [](const QuarantinedEntry& q) { return shownText(GrabaQLTR::place(q.entry)); }},
        {QStringLiteral("characteristic"), false,
         [](const QuarantinedEntry& q) { return shownText(q.entry.Carac); }},
        {QStringLiteral("value"), false,
         [](const QuarantinedEntry& q) { return shownText(q.entry.Valor); }},
        {QStringLiteral("reason"), false,
         [](const QuarantinedEntry& q) {
             return QString::number(reasonNumber(q)) + QStringLiteral(".- ") +
                    shownText(reasonText(q));
         }},
    }};
    return columns;
}

QString tableLine(const QStringList& cells, const QList<qsizetype>& widths)
{
    const auto& columns = listColumns();
    QString line;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line += QStringLiteral("  ");
        const bool last = i + 1 == cells.size();
        const int width = static_cast<int>(widths[i]);
        if (columns[static_cast<std::size_t>(i)].number)
            line += cells[i].rightJustified(width);
        else
            line += last ? cells[i] : cells[i].leftJustified(width);
    }
    return line;
}

// A CSV field (RFC 4180). A text a spreadsheet would take for a formula
// (starting with = + - @, a tab or a carriage return) gets an apostrophe in
// front, so that opening the file never runs it.
QString csvText(const QString& text)
{
    QString field = text;
    if (!field.isEmpty()) {
        const QChar first = field.front();
        if (first == QLatin1Char('=') || first == QLatin1Char('+') || first == QLatin1Char('-') ||
            first == QLatin1Char('@') || first == QLatin1Char('\t') || first == QLatin1Char('\r'))
            field.prepend(QLatin1Char('\''));
    }
    if (field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
        field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'))) {
        field.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        field = QLatin1Char('"') + field + QLatin1Char('"');
    }
    return field;
}

const QStringList kCsvHeadings = {QStringLiteral("id"),
                                  QStringLiteral("read at"),
                                  QStringLiteral("port"),
                                  QStringLiteral("data table"),
                                  QStringLiteral("characteristic"),
                                  QStringLiteral("value"),
                                  QStringLiteral("reason number"),
                                  QStringLiteral("reason"),
                                  QStringLiteral("engine"),
                                  QStringLiteral("base"),
                                  QStringLiteral("format"),
                                  QStringLiteral("machine"),
                                  QStringLiteral("product")};

QString csvRecord(const QuarantinedEntry& q)
{
    const OutboxEntry& e = q.entry;
    const QStringList fields = {QString::number(e.id),
                                csvText(readAt(e)),
                                QString::number(e.Puert),
                                csvText(GrabaQLTR::place(e)),
                                csvText(e.Carac),
                                csvText(e.Valor),
                                QString::number(reasonNumber(q)),
                                csvText(reasonText(q)),
                                csvText(e.engine),
                                csvText(e.base),
                                csvText(e.Forma),
                                csvText(e.Maqui),
                                csvText(e.Produ)};
    return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString readings(qint64 count)
{
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" reading") : QStringLiteral(" readings"));
}

// An error's description as one line of standard error.
QString oneLine(const Error& error)
{
    return logLineText(error.description.simplified());
}

} // namespace

std::optional<QuarantineCommand::Action> QuarantineCommand::actionNamed(const QString& word)
{
    if (word == QLatin1String("list"))
        return Action::List;
    if (word == QLatin1String("export"))
        return Action::Export;
    if (word == QLatin1String("resend"))
        return Action::Resend;
    return std::nullopt;
}

QString QuarantineCommand::outboxPathFor(const QString& installationFolder)
{
    // The router names its installation as RutaApp, with a separator at
    // the end; the outbox's fallback folder is derived from that path.
    return Outbox::pathForInstallation(RutaConBarra(installationFolder));
}

QuarantineCommand::QuarantineCommand(QString outboxPath) : m_outboxPath(std::move(outboxPath)) {}

Result<std::unique_ptr<Outbox>> QuarantineCommand::openOutbox() const
{
    // Outbox::open would create a missing file: only an existing one is
    // opened.
    const QFileInfo file(m_outboxPath);
    if (!file.exists())
        return failure(ErrorNumber::FileNotFound,
                       QStringLiteral("the outbox ") + m_outboxPath +
                           QStringLiteral(" does not exist: no router has kept readings for "
                                          "this installation (is --installation right?)"));
    if (!file.isFile())
        return failure(ErrorNumber::PathFileAccess, QStringLiteral("the outbox ") + m_outboxPath +
                                                        QStringLiteral(" is not a file"));
    // SQLite would follow a link planted at the outbox or a side file.
    if (Status plain = checkSqliteFiles(m_outboxPath); !plain)
        return plain.error();
    // This connection never folds the write-ahead log back into the file:
    // the router's writers do, and this one's commits stay short.
    auto opened = Outbox::open(m_outboxPath, false);
    if (!opened) {
        Error error = opened.error();
        if (!file.isWritable())
            error.description += QStringLiteral(" (this user cannot write the outbox: run the "
                                                "command as the router's user)");
        return error;
    }
    return std::move(opened.value());
}

Status QuarantineCommand::list(QTextStream& out) const
{
    auto opened = openOutbox();
    if (!opened)
        return opened.error();
    const Outbox& outbox = *opened.value();
    const auto& columns = listColumns();
    // The widths come from the first page: the listing starts at once and
    // keeps no more than a page in memory.
    QList<qsizetype> widths;
    qint64 count = 0;
    const Status listed = forEachPage(outbox, [&](const QList<QuarantinedEntry>& page) -> Status {
        QList<QStringList> rows;
        rows.reserve(page.size());
        for (const QuarantinedEntry& q : page) {
            QStringList cells;
            for (const ListColumn& column : columns)
                cells.append(column.text(q));
            rows.append(std::move(cells));
        }
        if (widths.isEmpty()) {
            QStringList headings;
            for (const ListColumn& column : columns) {
                headings.append(column.heading);
                widths.append(column.heading.size());
            }
            for (const QStringList& cells : std::as_const(rows))
                for (qsizetype i = 0; i < cells.size(); ++i)
                    widths[i] = std::max(widths[i], std::min(cells[i].size(), kMaxColumnWidth));
            out << tableLine(headings, widths) << '\n';
        }
        for (const QStringList& cells : std::as_const(rows))
            out << tableLine(cells, widths) << '\n';
        count += page.size();
        out.flush();
        return {};
    });
    if (!listed)
        return listed;
    out << readings(count) << QStringLiteral(" in the quarantine of ") << m_outboxPath << '\n';
    out.flush();
    return {};
}

Result<qint64> QuarantineCommand::exportCsv(const QString& csvPath) const
{
    // The outbox first: a missing outbox leaves no file behind.
    auto opened = openOutbox();
    if (!opened)
        return opened.error();
    const QFileInfo target(csvPath);
    if (target.exists() || target.isSymLink())
        return failure(ErrorNumber::PathFileAccess,
                       csvPath + QStringLiteral(" already exists; it is not overwritten"));
    QFile file(csvPath);
    // NewOnly: a file made meanwhile is still never overwritten.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return failure(ErrorNumber::PathFileAccess,
                       csvPath + QStringLiteral(": cannot be created: ") + file.errorString());
    const auto abandon = [&file, &csvPath](const Error& error) -> Error {
        file.close();
        file.remove();
        return Error{error.number, error.source,
                     error.description + QStringLiteral(" (") + csvPath +
                         QStringLiteral(" was not written)")};
    };
    const auto writeFailed = [&file, &csvPath] {
        return failure(ErrorNumber::PathFileAccess,
                       csvPath + QStringLiteral(": cannot be written: ") + file.errorString());
    };
    QTextStream csv(&file);
    csv.setEncoding(QStringConverter::Utf8);
    // The byte-order mark makes spreadsheets read the file as UTF-8.
    csv.setGenerateByteOrderMark(true);
    csv << kCsvHeadings.join(QLatin1Char(',')) << QStringLiteral("\r\n");
    qint64 count = 0;
    const Status exported = forEachPage(*opened.value(), [&](const QList<QuarantinedEntry>& page) {
        for (const QuarantinedEntry& q : page)
            csv << csvRecord(q);
        count += page.size();
        csv.flush();
        return csv.status() == QTextStream::Ok ? Status() : Status(writeFailed());
    });
    if (!exported)
        return abandon(exported.error());
    csv.flush();
    if (csv.status() != QTextStream::Ok || !file.flush())
        return abandon(writeFailed());
    file.close();
    if (file.error() != QFileDevice::NoError)
        return abandon(writeFailed());
    return count;
}

Result<qint64> QuarantineCommand::resend() const
{
    auto opened = openOutbox();
    if (!opened)
        return opened.error();
    Outbox& outbox = *opened.value();
    // Only what is in quarantine now: a reading the router quarantines again
    // meanwhile stays there rather than going round again.
    auto inQuarantine = outbox.quarantinedCount();
    if (!inQuarantine)
        return inQuarantine.error();
    qint64 remaining = inQuarantine.value();
    qint64 moved = 0;
    while (remaining > 0) {
        const qsizetype limit = static_cast<qsizetype>(std::min<qint64>(kSliceSize, remaining));
        QElapsedTimer held;
        held.start();
        auto slice = outbox.requeue(limit);
        if (!slice) {
            Error error = slice.error();
            error.description +=
                QStringLiteral(" (") + readings(moved) + QStringLiteral(" had been sent again)");
            return error;
        }
        moved += slice.value();
        remaining -= slice.value();
        if (slice.value() < limit)
            break;
        // The router gets the file for at least as long as the slice held it.
        if (remaining > 0)
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::max<qint64>(held.elapsed(), 1)));
    }
    return moved;
}

int QuarantineCommand::run(Action action, const QString& csvPath, QTextStream& out,
                           QTextStream& err) const
{
    const auto fail = [&err](const Error& error) {
        err << QStringLiteral("Telvar: ") << oneLine(error) << '\n';
        err.flush();
        return 1;
    };
    switch (action) {
    case Action::List:
        if (const Status listed = list(out); !listed)
            return fail(listed.error());
        return 0;
    case Action::Export: {
        if (csvPath.isEmpty())
            return fail(failure(ErrorNumber::InvalidArgument,
                                QStringLiteral("--quarantine export needs the CSV file to write")));
        const auto exported = exportCsv(csvPath);
        if (!exported)
            return fail(exported.error());
        out << QStringLiteral("exported ") << readings(exported.value())
            << QStringLiteral(" of the quarantine of ") << m_outboxPath << QStringLiteral(" to ")
            << csvPath << '\n';
        out.flush();
        return 0;
    }
    case Action::Resend: {
        const auto moved = resend();
        if (!moved)
            return fail(moved.error());
        if (moved.value() == 0)
            out << QStringLiteral("the quarantine of ") << m_outboxPath
                << QStringLiteral(" is empty: nothing to send again\n");
        else
            out << QStringLiteral("sent again ") << readings(moved.value())
                << QStringLiteral(" of the quarantine of ") << m_outboxPath
                << QStringLiteral("; the running router records them within a minute (a "
                                  "stopped one, when it starts)\n");
        out.flush();
        return 0;
    }
    }
    return fail(failure(ErrorNumber::InvalidArgument, QStringLiteral("unknown action")));
}

} // namespace telvar
