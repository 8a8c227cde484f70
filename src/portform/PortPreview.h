#pragma once

#include "acquisition/PageLoader.h"
#include "portform/NearIdentifiers.h"

#include <QObject>
#include <QString>
#include <optional>
#include <utility>

namespace telvar {

// What the port form shows of the page being configured: the state of the
// page's loading, and the reading that the identifier, start and length
// would cut out of it, with the text around the cut.
// How a page's loading ended, in words of the language idioma: its size and
// HTTP status, or why it is cut, did not come or cannot be read.
QString pageOutcomeText(const LoadedPage& page, int idioma);

struct PreviewView {
    // How the page stands: not asked for, loading, read, or why not.
    QString pageLine;
    // What the cut gives: the reading and its numeric value, "<identifier>
    // not found", a blank cut or why the cut fails; empty until a page is read.
    QString readingLine;
    // The page text just before the cut, the cut itself and the text just
    // after it (all empty when nothing was cut).
    QString before;
    QString cut;
    QString after;

    // When the page does not hold the identifier: the page's texts nearest
    // to it, nearest first; nearLine heads them ("Similar on the page: ") or
    // says there are none; nearNote says when only the page's beginning was
    // searched (else empty).
    QList<NearIdentifier> near;
    QString nearLine;
    QString nearNote;

    // The page as read, whatever the cut gives: the whole page, or for a
    // page longer than kPageShown the part around the cut (its beginning
    // when nothing was cut). pageFrom is where that part starts in the page
    // (0-based); pagePartLine says which part is shown (empty for the whole
    // page).
    QString pageText;
    qsizetype pageFrom = 0;
    QString pagePartLine;
    // Where the cut lies in pageText (0-based); -1 when nothing was cut.
    qsizetype cutAt = -1;
    qsizetype cutLength = 0;
};

// The live preview of a port's reading. The page is fetched through the
// page loader (the acquisition's own, with its bounds and time limit) when
// the address is set; the identifier, start and length are applied to the
// page already read, so editing them costs no fetch.
class PortPreview final : public QObject {
    Q_OBJECT
public:
    // At most this many characters of page text are shown on each side of
    // the cut.
    static constexpr int kContext = 60;
    // At most this many characters of the page are given to the page box.
    static constexpr qsizetype kPageShown = 256 * 1024;

    // idioma: the language of its texts (the message table's number).
    PortPreview(PageLoader& loader, int idioma, QObject* parent = nullptr);
    int idioma() const { return m_idioma; }
    ~PortPreview() override;

    // Fetches the page at url (an empty address asks for nothing); a fetch
    // still under way is forgotten.
    void load(const QString& url);
    // The cut as the form's boxes hold it: the identifier as typed (blanks
    // around it removed, as saving does), start and length as the numbers
    // their texts begin with.
    void setCut(const QString& ident, const QString& inici, const QString& longi);

    PreviewView view() const;

signals:
    void changed();

private:
    void pageLoaded(PageLoader::Ticket ticket, const LoadedPage& page);
    // The page's texts near the identifier, searched once per identifier and
    // page (the view is asked for on every keystroke).
    const NearIdentifiers& nearOf(const QString& ident) const;

    PageLoader& m_loader;
    int m_idioma;
    QString m_url;
    PageLoader::Ticket m_ticket = 0;
    std::optional<LoadedPage> m_page;
    QString m_ident;
    QString m_inici;
    QString m_longi;
    mutable std::optional<std::pair<QString, NearIdentifiers>> m_near;
};

} // namespace telvar
