#pragma once

#include "common/Error.h"

#include <QString>

namespace telvar {

class Connection;

// Gives the text column column of table the declared size width on an
// SQLite connection. SQLite cannot alter a column, so the table is rebuilt
// with the new declaration inside one transaction: every row and value,
// every index and trigger of the table, the AUTOINCREMENT counter, and the
// views and other tables' triggers that name it are kept. Errors (a missing
// table or column, a failed statement, a connection to another engine) come
// back as values and leave the database as it was.
Status widenSqliteTextColumn(const Connection& cn, const QString& table, const QString& column,
                             int width);

} // namespace telvar
