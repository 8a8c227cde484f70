#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>

class QHttpServer;

namespace telvar {

// The status over HTTP on 127.0.0.1 only (Qt HTTP Server): GET /metrics
// gives the Prometheus text, GET /status the status document (JSON); any
// other path or method is not found. A request whose Host names anything
// but 127.0.0.1 or localhost is refused (403), so that a web page that
// rebinds its own name to this machine cannot read the status through a
// browser. The documents are built on the server's thread (the window's)
// when asked for.
class StatusServer final : public QObject {
    Q_OBJECT
public:
    using Document = std::function<QByteArray()>;

    StatusServer(Document metrics, Document status, QObject* parent = nullptr);
    ~StatusServer() override;

    // Listens on 127.0.0.1:port (any free port for 0). An error says why
    // it cannot (the port in use, say); the server then stays off.
    Status listen(quint16 port);
    bool isListening() const { return m_port != 0; }
    // The port listened on; 0 while off.
    quint16 port() const { return m_port; }

private:
    Document m_metrics;
    Document m_status;
    std::unique_ptr<QHttpServer> m_server;
    quint16 m_port = 0;
};

} // namespace telvar
