#include "portform/NearIdentifiers.h"

#include "common/TrimBlanks.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace telvar {

namespace {

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

bool holdsLineEnd(QStringView text)
{
    return std::any_of(text.begin(), text.end(), isLineEnd);
}

// The texts found so far, each once, in the order they are offered.
class Found {
public:
    Found(QStringView ident, int max) : m_ident(ident), m_max(max) {}

    bool full() const { return m_list.size() >= m_max; }
    bool has(const QString& text) const
    {
        return std::any_of(m_list.begin(), m_list.end(),
                           [&](const NearIdentifier& n) { return n.text == text; });
    }
    // Whether [start, end) of the page overlaps a text offered already.
    bool covers(qsizetype start, qsizetype end) const
    {
        return std::any_of(m_list.begin(), m_list.end(), [&](const NearIdentifier& n) {
            return start < n.position + n.text.size() && n.position < end;
        });
    }
    // True when text can be offered: not the identifier itself, not empty,
    // on one line and not offered yet.
    bool offerable(const QString& text) const
    {
        return !text.isEmpty() && text != m_ident && !holdsLineEnd(text) && !has(text);
    }
    void add(NearIdentifier near) { m_list.append(std::move(near)); }
    QList<NearIdentifier> take() { return std::move(m_list); }

private:
    QStringView m_ident;
    int m_max;
    QList<NearIdentifier> m_list;
};

void findOtherCase(QStringView scan, QStringView ident, Found& found)
{
    for (qsizetype at = scan.indexOf(ident, 0, Qt::CaseInsensitive); at >= 0 && !found.full();
         at = scan.indexOf(ident, at + 1, Qt::CaseInsensitive)) {
        const QString text = scan.mid(at, ident.size()).toString();
        if (found.offerable(text))
            found.add({text, at, NearKind::OtherCase, 0});
    }
}

// Texts equal to ident once blanks (spaces and tabs) are left out of both,
// on one line of the page.
void findOtherBlanks(QStringView scan, QStringView ident, Found& found)
{
    QString compact;
    for (const QChar c : ident) {
        if (!c.isSpace())
            compact += c;
    }
    if (compact.isEmpty())
        return;
    const qsizetype n = scan.size();
    for (qsizetype start = 0; start < n && !found.full(); ++start) {
        if (scan[start] != compact[0])
            continue;
        qsizetype at = start;
        qsizetype matched = 0;
        while (at < n && matched < compact.size()) {
            const QChar c = scan[at];
            if (isLineEnd(c))
                break;
            if (c.isSpace()) {
                ++at;
                continue;
            }
            if (c != compact[matched])
                break;
            ++at;
            ++matched;
        }
        if (matched < compact.size())
            continue;
        const QString text = scan.mid(start, at - start).toString();
        if (found.offerable(text))
            found.add({text, start, NearKind::OtherBlanks, 0});
    }
}

struct Candidate {
    int distance;
    qsizetype start;
    qsizetype end;
};

// Of two texts ending next to each other at the same near place, the better:
// fewer changes, then ending as the identifier ends (its delimiter, as "=" or
// ":"), then the length nearer the identifier's.
bool betterInRun(const Candidate& a, const Candidate& b, QStringView scan, QStringView ident)
{
    if (a.distance != b.distance)
        return a.distance < b.distance;
    const QChar last = ident.back().toCaseFolded();
    const bool aEnds = scan[a.end - 1].toCaseFolded() == last;
    const bool bEnds = scan[b.end - 1].toCaseFolded() == last;
    if (aEnds != bEnds)
        return aEnds;
    const qsizetype aOff = std::abs((a.end - a.start) - ident.size());
    const qsizetype bOff = std::abs((b.end - b.start) - ident.size());
    return aOff < bOff;
}

// Texts within maxDistance edits of ident (capitals not counted), by the
// approximate substring search: a column of edit distances per page
// character, each cell carrying where its alignment starts in the page.
// Neighbouring ends of one near text form a run; its best end is kept.
QList<NearIdentifier> findSimilar(QStringView scan, QStringView ident, int maxDistance, int max,
                                  const Found& already)
{
    const qsizetype m = ident.size();
    std::vector<char16_t> folded(static_cast<size_t>(m));
    for (qsizetype i = 0; i < m; ++i)
        folded[static_cast<size_t>(i)] = ident[i].toCaseFolded().unicode();
    std::vector<int> prev(static_cast<size_t>(m + 1));
    std::vector<int> cur(static_cast<size_t>(m + 1));
    std::vector<qsizetype> prevStart(static_cast<size_t>(m + 1), 0);
    std::vector<qsizetype> curStart(static_cast<size_t>(m + 1), 0);
    for (qsizetype i = 0; i <= m; ++i)
        prev[static_cast<size_t>(i)] = static_cast<int>(i);

    // The best texts so far, nearest first, then earliest.
    QList<NearIdentifier> best;
    auto worse = [](int d1, qsizetype p1, int d2, qsizetype p2) {
        return d1 > d2 || (d1 == d2 && p1 > p2);
    };
    auto offer = [&](const Candidate& c) {
        if (best.size() >= max &&
            !worse(best.last().distance, best.last().position, c.distance, c.start))
            return;
        if (already.covers(c.start, c.end))
            return;
        const QStringView raw = scan.mid(c.start, c.end - c.start);
        const QString text = raw.trimmed().toString();
        if (!already.offerable(text))
            return;
        if (std::any_of(best.begin(), best.end(),
                        [&](const NearIdentifier& n) { return n.text == text; }))
            return;
        qsizetype leading = 0;
        while (leading < raw.size() && raw[leading].isSpace())
            ++leading;
        NearIdentifier near{text, c.start + leading, NearKind::Similar, c.distance};
        auto at = std::find_if(best.begin(), best.end(), [&](const NearIdentifier& n) {
            return worse(n.distance, n.position, near.distance, near.position);
        });
        best.insert(at, std::move(near));
        if (best.size() > max)
            best.removeLast();
    };

    bool inRun = false;
    Candidate run{};
    const qsizetype n = scan.size();
    for (qsizetype j = 1; j <= n; ++j) {
        const char16_t c = scan[j - 1].toCaseFolded().unicode();
        cur[0] = 0;
        curStart[0] = j;
        for (size_t i = 1; i <= static_cast<size_t>(m); ++i) {
            int d = prev[i - 1] + (folded[i - 1] == c ? 0 : 1);
            qsizetype s = prevStart[i - 1];
            if (prev[i] + 1 < d) {
                d = prev[i] + 1;
                s = prevStart[i];
            }
            if (cur[i - 1] + 1 < d) {
                d = cur[i - 1] + 1;
                s = curStart[i - 1];
            }
            cur[i] = d;
            curStart[i] = s;
        }
        const int d = cur[static_cast<size_t>(m)];
        if (d <= maxDistance) {
            const Candidate here{d, curStart[static_cast<size_t>(m)], j};
            if (!inRun || betterInRun(here, run, scan, ident))
                run = here;
            inRun = true;
        } else if (inRun) {
            offer(run);
            inRun = false;
        }
        std::swap(prev, cur);
        std::swap(prevStart, curStart);
    }
    if (inRun)
        offer(run);
    return best;
}

} // namespace

NearIdentifiers nearIdentifiers(QStringView page, QStringView ident, const NearLimits& limits)
{
    NearIdentifiers result;
    const QString wanted = trimBlanks(ident.toString());
    result.searched = std::min(page.size(), std::max<qsizetype>(limits.pageChars, 0));
    result.pageCut = result.searched < page.size();
    if (wanted.isEmpty() || limits.maxMatches <= 0)
        return result;
    const QStringView scan = page.first(result.searched);

    Found found(wanted, limits.maxMatches);
    findOtherCase(scan, wanted, found);
    if (!found.full())
        findOtherBlanks(scan, wanted, found);
    const qsizetype m = wanted.size();
    if (!found.full() && m >= 3 && m <= limits.identChars) {
        const int maxDistance = std::max(1, static_cast<int>(m / 3));
        for (NearIdentifier& near :
             findSimilar(scan, wanted, maxDistance, limits.maxMatches, found)) {
            if (found.full())
                break;
            if (found.offerable(near.text))
                found.add(std::move(near));
        }
    }
    result.matches = found.take();
    return result;
}

} // namespace telvar
