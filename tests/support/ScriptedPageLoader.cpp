#include "support/ScriptedPageLoader.h"

#include <algorithm>
#include <utility>

namespace telvar::test {

PageLoader::Ticket ScriptedPageLoader::load(const QString& url)
{
    const Request request{++m_lastTicket, url};
    m_requests.append(request);
    m_pending.append(request);
    return request.ticket;
}

void ScriptedPageLoader::cancel(Ticket ticket)
{
    if (m_pending.removeIf([&](const Request& r) { return r.ticket == ticket; }) > 0)
        m_cancelled.append(ticket);
}

bool ScriptedPageLoader::complete(Ticket ticket, LoadedPage page)
{
    const auto found = std::find_if(m_pending.cbegin(), m_pending.cend(),
                                    [&](const Request& r) { return r.ticket == ticket; });
    if (found == m_pending.cend())
        return false;
    if (page.url.isEmpty())
        page.url = found->url;
    m_pending.erase(found);
    emit pageLoaded(ticket, page);
    return true;
}

} // namespace telvar::test
