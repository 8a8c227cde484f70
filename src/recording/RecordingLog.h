#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace telvar {

// The recording log shown under the readings: fixed-width lines, as many as
// the box can show. A line beyond that capacity pushes the oldest out.
class RecordingLog final : public QObject {
    Q_OBJECT
public:
    // Every line is its message padded with blanks or cut to this width.
    static constexpr int kLineWidth = 123;

    explicit RecordingLog(QObject* parent = nullptr);

    // The number of lines the box shows, from its height in twips.
    static int capacityForHeight(double heightTwips);
    void setCapacity(int lines) { m_capacity = lines; }
    int capacity() const { return m_capacity; }

    // Adds the message as a line; an empty message adds nothing.
    void append(const QString& message);

    const QStringList& lines() const { return m_lines; }
    // The lines, each followed by CR LF.
    QString text() const;

signals:
    void lineAppended(const QString& line);

private:
    QStringList m_lines;
    int m_capacity = 0;
};

} // namespace telvar
