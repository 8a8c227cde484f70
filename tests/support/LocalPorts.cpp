#include "support/LocalPorts.h"

#include <QHostAddress>
#include <QTcpServer>

namespace telvar::test {

quint16 unusedLocalPort()
{
    // A port the system just handed out and that is free again at once.
    QTcpServer probe;
    if (probe.listen(QHostAddress::LocalHost, 0)) {
        const quint16 port = probe.serverPort();
        probe.close();
        return port;
    }
    return 1; // tcpmux: nothing listens there on a test machine
}

} // namespace telvar::test
