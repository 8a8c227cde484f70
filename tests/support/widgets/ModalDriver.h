#pragma once

#include <QWidget>
#include <functional>

namespace telvar::test {

// Runs action on the next modal dialog to open, from inside that dialog's own
// event loop, so a test can answer a box that a call under test shows with
// exec(). Should the action leave the dialog open, it is rejected shortly
// after so that a failing test cannot hang.
void onNextModal(std::function<void(QWidget*)> action);

} // namespace telvar::test
