#include "portform/PortPreview.h"

#include "acquisition/Extraction.h"
#include "acquisition/SendRequest.h"
#include "acquisition/TPuerto.h"
#include "common/NumericValue.h"
#include "common/OwnTexts.h"
#include "common/TrimBlanks.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace telvar {

namespace {

// The whole number a start or length box gives, when the acquisition can
// use it.
std::optional<qint16> shortNumber(const QString& text)
{
    const double value = std::nearbyint(numericValue(text));
    if (!std::isfinite(value) || value < std::numeric_limits<qint16>::min() ||
        value > std::numeric_limits<qint16>::max())
        return std::nullopt;
    return static_cast<qint16>(value);
}

// The page box's text: the whole page, or the kPageShown characters of a
// long page around the cut [cutStart, cutEnd) (the page's beginning when
// nothing was cut), with the cut's place in that text.
void showPagePart(PreviewView& view, const QString& page, qsizetype cutStart, qsizetype cutEnd,
                  int idioma)
{
    constexpr qsizetype shown = PortPreview::kPageShown;
    qsizetype from = 0;
    if (page.size() > shown && cutEnd > cutStart)
        from = std::clamp<qsizetype>(cutStart - shown / 2, 0, page.size() - shown);
    view.pageFrom = from;
    view.pageText = page.mid(from, shown);
    view.pagePartLine.clear();
    if (page.size() > shown)
        view.pagePartLine = ownText(OwnText::PreviewPagePart, idioma)
                                .arg(from + 1)
                                .arg(from + view.pageText.size())
                                .arg(page.size());
    view.cutAt = cutEnd > cutStart ? cutStart - from : -1;
    view.cutLength =
        cutEnd > cutStart ? std::min(cutEnd, from + view.pageText.size()) - cutStart : 0;
}

} // namespace

QString pageOutcomeText(const LoadedPage& page, int idioma)
{
    switch (page.outcome) {
    case PageOutcome::Complete:
        return ownText(OwnText::PreviewPageRead, idioma).arg(page.text.size()).arg(page.httpStatus);
    case PageOutcome::Truncated:
        return ownText(OwnText::PreviewPageCut, idioma)
            .arg(page.text.size())
            .arg(page.error ? page.error->description : QString());
    case PageOutcome::TimedOut:
        return ownText(OwnText::PreviewTimedOut, idioma);
    case PageOutcome::Unreachable:
        return ownText(OwnText::PreviewUnreachable, idioma);
    case PageOutcome::Failed:
        return ownText(OwnText::PreviewUnreadable, idioma) +
               (page.error ? page.error->description : QString());
    }
    return {};
}

PortPreview::PortPreview(PageLoader& loader, int idioma, QObject* parent)
    : QObject(parent), m_loader(loader), m_idioma(idioma)
{
    connect(&m_loader, &PageLoader::pageLoaded, this, &PortPreview::pageLoaded);
}

PortPreview::~PortPreview()
{
    if (m_ticket != 0)
        m_loader.cancel(m_ticket);
}

void PortPreview::load(const QString& url)
{
    m_near.reset();
    if (m_ticket != 0)
        m_loader.cancel(m_ticket);
    m_ticket = 0;
    m_page.reset();
    m_url = trimBlanks(url);
    if (!m_url.isEmpty())
        m_ticket = m_loader.load(m_url);
    emit changed();
}

void PortPreview::setCut(const QString& ident, const QString& inici, const QString& longi)
{
    m_ident = trimBlanks(ident);
    m_inici = inici;
    m_longi = longi;
    emit changed();
}

void PortPreview::pageLoaded(PageLoader::Ticket ticket, const LoadedPage& page)
{
    if (ticket == 0 || ticket != m_ticket)
        return;
    m_ticket = 0;
    m_page = page;
    m_near.reset();
    emit changed();
}

const NearIdentifiers& PortPreview::nearOf(const QString& ident) const
{
    if (!m_near || m_near->first != ident)
        m_near.emplace(ident,
                       nearIdentifiers(m_page ? QStringView(m_page->text) : QStringView(), ident));
    return m_near->second;
}

PreviewView PortPreview::view() const
{
    PreviewView view;
    if (m_url.isEmpty()) {
        view.pageLine = ownText(OwnText::PreviewNoPage, m_idioma);
        return view;
    }
    if (!m_page) {
        view.pageLine = ownText(OwnText::PreviewReading, m_idioma).arg(maskUrlPassword(m_url));
        return view;
    }
    view.pageLine = pageOutcomeText(*m_page, m_idioma);
    const QString& page = m_page->text;
    showPagePart(view, page, 0, 0, m_idioma);

    const std::optional<qint16> inici = shortNumber(m_inici);
    const std::optional<qint16> longi = shortNumber(m_longi);
    if (!inici || !longi) {
        view.readingLine = ownText(OwnText::PreviewBadCut, m_idioma);
        return view;
    }
    TPuerto port;
    port.WebPg = m_url;
    port.Ident = m_ident;
    port.Inici = *inici;
    port.Longi = *longi;
    const Extraction extraction = extractReading(page, port);
    switch (extraction.status) {
    case ReadingStatus::NotFound:
        view.readingLine = extraction.statusText;
        if (!m_ident.isEmpty() && !page.isEmpty()) {
            const NearIdentifiers& near = nearOf(m_ident);
            view.near = near.matches;
            view.nearLine = ownText(near.matches.isEmpty() ? OwnText::PreviewNoNearMatch
                                                           : OwnText::PreviewNearMatches,
                                    m_idioma);
            if (near.pageCut)
                view.nearNote = ownText(OwnText::PreviewSearchedPart, m_idioma).arg(near.searched);
        }
        return view;
    case ReadingStatus::Failed:
        view.readingLine =
            ownText(OwnText::PreviewCannotCut, m_idioma) +
            (extraction.errors.isEmpty() ? QString() : extraction.errors.first().description);
        return view;
    case ReadingStatus::Blank:
        view.readingLine = ownText(OwnText::PreviewBlank, m_idioma);
        break;
    case ReadingStatus::Read:
        view.readingLine = ownText(OwnText::PreviewReadingValue, m_idioma)
                               .arg(extraction.reading,
                                    QString::number(numericValue(extraction.reading), 'g', 15));
        break;
    }
    // Where the cut starts (0-based), as the extraction counted it.
    const qsizetype anchor = classicPosition(page, port.Ident) - 1;
    const qsizetype start = anchor + port.Ident.size() + port.Inici - 1;
    const qsizetype end = std::min<qsizetype>(start + extraction.reading.size(), page.size());
    const qsizetype from = std::max<qsizetype>(0, start - kContext);
    view.before = page.mid(from, start - from);
    view.cut = extraction.reading;
    view.after = page.mid(end, kContext);
    showPagePart(view, page, std::clamp<qsizetype>(start, 0, page.size()), end, m_idioma);
    return view;
}

} // namespace telvar
