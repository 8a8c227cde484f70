#pragma once

// What a benchmark does when something goes wrong: it stops, saying what.

#include "common/Interaccion.h"
#include "common/RuntimeError.h"

#include <QString>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace telvar::bench {

[[noreturn]] inline void die(const QString& what)
{
    std::fprintf(stderr, "%s\n", qPrintable(what));
    std::exit(1);
}

inline void check(const Status& status, const char* what)
{
    if (!status)
        die(QString::fromLatin1(what) + QStringLiteral(": ") + status.error().descripcion);
}

// Any box during a benchmark is a failure worth stopping for (the list
// picker answers "" instead).
class FailOnBox final : public Interaccion {
public:
    void messageBox(const QString& text, BoxKind) override { fail(text); }
    void mensaBox(const QString& text, BoxKind, double) override { fail(text); }
    bool questionBox(const QString& text) override { fail(text); }
    std::optional<QString> inputBox(const QString& prompt, InputEcho) override { fail(prompt); }
    QString superListBox(const ListPickerRequest&) override { return {}; }
    void setMousePointer(PointerShape) override {}
    void beep() override {}

private:
    [[noreturn]] static void fail(const QString& text)
    {
        die(QStringLiteral("unexpected box:\n") + text);
    }
};

} // namespace telvar::bench
