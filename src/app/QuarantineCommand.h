#pragma once

#include "common/Error.h"

#include <QString>
#include <chrono>
#include <memory>
#include <optional>

class QTextStream;

namespace telvar {

class Outbox;

// `telvar --quarantine list|export FILE|resend`: the outbox's quarantine of
// an installation, from the command line, beside a running router or
// without one.
//
// It never claims the outbox (the running router holds that claim): it only
// opens the file, whose write-ahead log lets it read and write beside the
// router, and keeps every transaction short. The quarantine is read a page
// at a time, never whole (it may hold hundreds of thousands of readings),
// and sent again in slices, each its own commit, with a pause after each as
// long as the slice held the file, so the router's appends are never held
// off long. A running router picks the readings sent again up by itself:
// its writers look at the outbox every 30 seconds.
//
// A missing outbox is an error: the command never creates one.
class QuarantineCommand final {
public:
    enum class Action { List, Export, Resend };

    // Readings read per query when listing or exporting.
    static constexpr qsizetype kPageSize = 1000;
    // Readings moved back per commit when sending again.
    static constexpr qsizetype kSliceSize = 1000;
    // The widest a column of the listing is padded to; longer texts are
    // shown whole and push the columns after them.
    static constexpr qsizetype kMaxColumnWidth = 48;

    // The action a command-line word names ("list", "export", "resend").
    static std::optional<Action> actionNamed(const QString& word);
    // The outbox of the installation in folder, found as the router finds
    // it.
    static QString outboxPathFor(const QString& installationFolder);

    explicit QuarantineCommand(QString outboxPath);

    const QString& outboxPath() const { return m_outboxPath; }

    // A table of the quarantine on out (control characters of page text
    // made harmless), then a line with the count.
    Status list(QTextStream& out) const;
    // The quarantine as CSV (UTF-8, RFC 4180) into a new file at csvPath;
    // an existing file is never overwritten. Gives how many readings were
    // written.
    Result<qint64> exportCsv(const QString& csvPath) const;
    // Moves the readings in quarantine when this starts back to the end of
    // the outbox, slice after slice. Gives how many moved.
    Result<qint64> resend() const;

    // Runs action (csvPath for Export) and writes its outcome: the result on
    // out, or one line naming what failed on err. Gives the exit status, 0
    // or 1.
    int run(Action action, const QString& csvPath, QTextStream& out, QTextStream& err) const;

private:
    Result<std::unique_ptr<Outbox>> openOutbox() const;

    QString m_outboxPath;
};

} // namespace telvar
