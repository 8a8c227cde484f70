#pragma once

#include <QLatin1String>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <gtest/gtest.h>

namespace telvar::test {

// The child widget of this type and object name; a test fails when there is
// none (and gets a null pointer).
template <typename T> T* child(const QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << "no " << name << " in " << window.objectName().toStdString();
    return found;
}

// The main window's clock button 1 to 10.
inline QPushButton* clockButton(const QWidget& window, int clock)
{
    const QString name = QStringLiteral("bReloj_") + QString::number(clock);
    return child<QPushButton>(window, name.toLatin1().constData());
}

} // namespace telvar::test
