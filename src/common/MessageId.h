#pragma once

namespace telvar {

// A message of the language table by its section and number.
struct MessageId {
    int section;
    int number;
};

// Messages that more than one place shows.
namespace Message {
// "Check the installation of the data access components."
inline constexpr MessageId CheckComponents{4, 13};
// The prompt for the database password.
inline constexpr MessageId TypePassword{0, 81};
// Caption of cmdAbre while the acquisition is stopped / running.
inline constexpr MessageId StartAcquisition{76, 2};
inline constexpr MessageId StopAcquisition{76, 3};
} // namespace Message

} // namespace telvar
