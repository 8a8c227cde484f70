#pragma once

// The station simulator as the benchmarks run it: its own program, so that
// the CPU time and memory a benchmark measures are the benchmark's alone.

#include "BenchFailures.h"

#include <QCommandLineOption>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTcpSocket>
#include <unistd.h>
#include <vector>

namespace telvar::bench {

// The option that names the simulator's program, by default the one built
// beside the benchmark.
inline QCommandLineOption simulatorOption()
{
    return QCommandLineOption(QStringLiteral("simulator"),
                              QStringLiteral("The station simulator program."),
                              QStringLiteral("PATH"),
                              QDir(QCoreApplication::applicationDirPath())
                                  .filePath(QStringLiteral("telvar_station_simulator")));
}

// The simulator listening on portCount ports of 127.0.0.1 (each a station
// host), started with its further arguments; stopped with the object.
class Simulator final {
public:
    Simulator(const QString& program, int portCount, const QStringList& arguments = {})
    {
        m_process.setProgram(program);
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                           QStringLiteral("--ports"), QString::number(portCount)} +
                               arguments);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            die(program + QStringLiteral(": ") + m_process.errorString());
        childPids().push_back(m_process.processId());

        // It prints one line per port once it listens on every one of them.
        static const QRegularExpression listening(
            QStringLiteral("^listening on http://127\\.0\\.0\\.1:(\\d+)/$"));
        QByteArray output;
        while (m_ports.size() < portCount) {
            if (!m_process.waitForReadyRead(10000))
                die(QStringLiteral("the station simulator did not start listening"));
            output += m_process.readAllStandardOutput();
            qsizetype end = 0;
            while ((end = output.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(output.first(end)).trimmed();
                output.remove(0, end + 1);
                const QRegularExpressionMatch match = listening.match(line);
                if (match.hasMatch())
                    m_ports.append(static_cast<quint16>(match.captured(1).toUInt()));
            }
        }
        // Listening is not yet answering: each port must take a connection.
        for (const quint16 port : m_ports) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
            if (!socket.waitForConnected(10000))
                die(QStringLiteral("the station simulator does not accept connections on ") +
                    QString::number(port));
            socket.abort();
        }
    }

    ~Simulator()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        std::erase(childPids(), m_process.processId());
    }

    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const QList<quint16>& ports() const { return m_ports; }

    QString page(int host, const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:") + QString::number(m_ports.at(host)) + path;
    }

    // The simulator's CPU time so far, user and system, in seconds.
    double cpuSeconds() const
    {
        QFile file(QStringLiteral("/proc/") + QString::number(m_process.processId()) +
                   QStringLiteral("/stat"));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray stat = file.readAll();
        // Fields after the command's closing parenthesis start at the third;
        // utime and stime are the 14th and 15th.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 13)
            return 0;
        const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
        return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
    }

private:
    QProcess m_process;
    QList<quint16> m_ports;
};

} // namespace telvar::bench
