#pragma once

#include <QObject>

class QPushButton;
class QTableView;

namespace telvar {

// Keeps the readings grid on the newest reading while the person looks at
// the top of it: each new reading becomes the current row, as the grid
// always did. A person who scrolled down or picked an older reading keeps
// what is on screen: the rows stay where they are while newer ones arrive
// above, and the mark button says how many arrived; pressing it (or
// scrolling back to the top and picking the first row) follows again.
class ReadingsFollow final : public QObject {
    Q_OBJECT
public:
    // The grid's model must insert new readings at row 0. mark is the
    // button shown while new readings wait unseen; it is hidden here.
    ReadingsFollow(QTableView& grid, QPushButton& mark, QObject* parent = nullptr);

    bool following() const { return m_following; }
    int unseen() const { return m_unseen; }
    // Back to the newest reading, following again.
    void followNewest();

private:
    bool viewAtTop() const;
    void aboutToInsert();
    void inserted(int count);
    void showMark();

    QTableView& m_grid;
    QPushButton& m_mark;
    bool m_following = true;
    int m_unseen = 0;
};

} // namespace telvar
