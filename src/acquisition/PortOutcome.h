#pragma once

#include "acquisition/PageLoader.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

namespace telvar {

// How a polling cycle finished one port, for whoever keeps the ports' state.
struct PortOutcome {
    enum class Result {
        // A reading was cut and the reading check took it (within its limits
        // or not).
        Read,
        // The page holds no identifier (an empty page among them: one that
        // did not arrive in time or whose station did not answer).
        NotFound,
        // The cut is empty or only spaces.
        Blank,
        // The page could not be loaded (a malformed address, too many
        // redirects).
        PageFailed,
        // The port's start or length cannot be cut.
        CutFailed,
        // A reading was cut but the reading check refused it with an error.
        CheckFailed,
    };

    int reloj = 0;
    int element = 0;
    int Puert = 0;
    Result result = Result::NotFound;
    // The reading as cut (Read and CheckFailed).
    QString reading;
    // Why there is no reading, as the cycle reports or shows it: the error's
    // description, or "<identifier> not found".
    QString detail;
    // How the port's page ended.
    PageOutcome page = PageOutcome::Complete;
    // When the port's page arrived.
    QDateTime at;
    // For a page that got no answer: what the loader knows of why.
    NoAnswer noAnswer = NoAnswer::Unknown;

    bool succeeded() const { return result == Result::Read; }
};

} // namespace telvar

Q_DECLARE_METATYPE(telvar::PortOutcome)
