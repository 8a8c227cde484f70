#include "status/StatusServer.h"

#include "common/ErrorNumbers.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QTcpServer>

namespace telvar {

namespace {

// Whether the request's Host (if it has one) names this machine by its
// loopback address or name.
bool loopbackHost(const QHttpServerRequest& request)
{
    for (const auto& [name, value] : request.headers()) {
        if (name.compare("host", Qt::CaseInsensitive) != 0)
            continue;
        QByteArray host = value.trimmed().toLower();
        if (host.startsWith('[')) {
            const qsizetype end = host.indexOf(']');
            host = end < 0 ? QByteArray() : host.mid(1, end - 1);
        } else if (const qsizetype colon = host.indexOf(':'); colon >= 0) {
            host.truncate(colon);
        }
        return host == "127.0.0.1" || host == "localhost" || host == "::1";
    }
    return true;
}

QHttpServerResponse answer(const QHttpServerRequest& request, const QByteArray& mimeType,
                           const StatusServer::Document& document)
{
    if (!loopbackHost(request))
        return QHttpServerResponse(QHttpServerResponse::StatusCode::Forbidden);
    QHttpServerResponse response(mimeType, document());
    response.setHeader("Cache-Control", "no-store");
    return response;
}

} // namespace

StatusServer::StatusServer(Document metrics, Document status, QObject* parent)
    : QObject(parent), m_metrics(std::move(metrics)), m_status(std::move(status))
{
}

StatusServer::~StatusServer() = default;

Status StatusServer::listen(quint16 port)
{
    m_server.reset();
    m_port = 0;
    auto server = std::make_unique<QHttpServer>();
    server->route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get,
                  [this](const QHttpServerRequest& request) {
                      return answer(request, "text/plain; version=0.0.4; charset=utf-8", m_metrics);
                  });
    server->route(QStringLiteral("/status"), QHttpServerRequest::Method::Get,
                  [this](const QHttpServerRequest& request) {
                      return answer(request, "application/json", m_status);
                  });
    // The listening socket is made here, so that its error can be told.
    auto* tcp = new QTcpServer(server.get());
    if (!tcp->listen(QHostAddress::LocalHost, port)) {
        return Error{ErrorNumber::UnspecifiedFailure, QStringLiteral("Telvar status"),
                     tcp->errorString()};
    }
    server->bind(tcp);
    m_port = tcp->serverPort();
    m_server = std::move(server);
    return {};
}

} // namespace telvar
