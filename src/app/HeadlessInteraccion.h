#pragma once

#include "common/Interaccion.h"

#include <QString>
#include <functional>

namespace telvar {

// Writes line and a line end to standard error at once.
void writeStandardErrorLine(const QString& line);

// What a person would be asked or shown, for a router that runs without a
// screen: every box becomes one line on standard error (its kind, then its
// text, the lines of a many-line box joined by " | "), a count-down box and
// a notice simply log, and every question that needs a person gets the answer that
// changes nothing (No, Cancel, no choice) with a line saying what was asked
// and that nobody could answer it.
class HeadlessInteraccion final : public Interaccion {
public:
    // Each line goes to write (standard error when none is given).
    using LineWriter = std::function<void(const QString& line)>;
    explicit HeadlessInteraccion(LineWriter write = {});

    void messageBox(const QString& text, BoxKind kind) override;
    void mensaBox(const QString& mensaje, BoxKind icono, double duracion) override;
    void notice(const QString& text, BoxKind kind, double seconds) override;
    bool questionBox(const QString& question) override;
    std::optional<QString> inputBox(const QString& prompt, InputEcho echo) override;
    QString superListBox(const ListPickerRequest& request) override;
    void setMousePointer(PointerShape) override {}
    void beep() override {}

    // The line a box of this kind and text becomes.
    static QString lineFor(BoxKind kind, const QString& text);

private:
    void unanswered(const QString& what);

    LineWriter m_write;
};

} // namespace telvar
