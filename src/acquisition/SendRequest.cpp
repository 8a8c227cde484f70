#include "acquisition/SendRequest.h"

#include "acquisition/HttpPageLoader.h"
#include "common/ErrorReport.h"

#include <QByteArray>
#include <QList>

namespace telvar {

namespace {

// The password of an address's user information: from the first ':' after
// the scheme to the last '@'.
struct PasswordSpan {
    qsizetype userStart = 0;
    qsizetype colon = 0;
    qsizetype at = 0;
};

std::optional<PasswordSpan> passwordSpan(const QString& url)
{
    const qsizetype scheme = url.indexOf(QStringLiteral("://"));
    const qsizetype start = scheme < 0 ? 0 : scheme + 3;
    const qsizetype at = url.lastIndexOf(u'@');
    if (at < start)
        return std::nullopt;
    const qsizetype colon = url.indexOf(u':', start);
    if (colon < 0 || colon >= at)
        return std::nullopt;
    return PasswordSpan{start, colon, at};
}

} // namespace

SendRequestResult sendRequest(const QString& url,
                              const std::function<void(const QString&)>& progress,
                              const PageLimits& limits)
{
    const auto show = [&](const char* text) {
        if (progress)
            progress(QString::fromLatin1(text));
    };
    SendRequestResult result;

    show(kSendRequestConnecting);
    const Result<QByteArray> address = pagefetch::checkedAddress(url);
    if (!address)
        result.error = address.error();

    show(kSendRequestFetching);
    if (address) {
        result.readyState = 1;
        static const QList<QByteArray> headers = {QByteArrayLiteral("Content_type: text/html"),
                                                  QByteArrayLiteral("Cache-control: no-cache")};
        const pagefetch::Fetched fetched =
            pagefetch::fetchBlocking(address.value(), headers, limits);
        result.status = fetched.page.httpStatus;
        switch (fetched.page.outcome) {
        case PageOutcome::Complete:
            result.readyState = 4;
            result.text = fetched.page.text;
            break;
        case PageOutcome::Truncated:
            result.readyState = 3;
            result.text = fetched.page.text;
            result.error = fetched.page.error;
            break;
        case PageOutcome::TimedOut:
        case PageOutcome::Unreachable:
        case PageOutcome::Failed:
            result.error = fetched.transferError ? fetched.transferError : fetched.page.error;
            break;
        }
    }

    show(kSendRequestDone);
    return result;
}

QString maskUrlPassword(const QString& url)
{
    const std::optional<PasswordSpan> span = passwordSpan(url);
    if (!span)
        return url;
    return url.left(span->colon + 1) + QStringLiteral("***") + url.mid(span->at);
}

QString sendRequestReport(const QString& url, const SendRequestResult& result)
{
    if (!result.error)
        return {};
    Error error = *result.error;
    const QString masked = maskUrlPassword(url);
    if (const std::optional<PasswordSpan> span = passwordSpan(url)) {
        // libcurl's texts may quote the address or its user information.
        const QString userInfo = url.mid(span->userStart, span->at - span->userStart);
        error.description.replace(url, masked);
        error.description.replace(userInfo,
                                  url.mid(span->userStart, span->colon + 1 - span->userStart) +
                                      QStringLiteral("***"));
    }
    return errorReport(QStringLiteral("Telvar. SendRequest(") + masked + u')', error,
                       SourceLine::Shown) +
           QStringLiteral("\nreadyState: ") + QString::number(result.readyState) +
           QStringLiteral("\nStatus:") + QString::number(result.status);
}

} // namespace telvar
