#pragma once

#include "database/Connection.h"

#include <QString>
#include <chrono>
#include <memory>

namespace telvar {

// The engine layer's own helper: Qt SQL connection names and the Connection
// objects that own them. Code outside src/database opens connections through
// EngineLayer::open.
class ConnectionFactory final {
public:
    // A Qt SQL connection name never used before in this process.
    static QString newName();

    // Registers a Qt SQL connection of driver under a new name, not yet open;
    // the returned Connection removes it when closed or destroyed.
    static std::unique_ptr<Connection> make(const QString& driver, const QString& connectionString,
                                            SqlDialect dialect);

    // Bounds every wait of cn, an open server connection, for its server's
    // answer to bound (ServerAnswerWatch). Returns false when the connection
    // cannot be watched.
    static bool watchServerAnswers(Connection& cn, std::chrono::milliseconds bound);
};

} // namespace telvar
