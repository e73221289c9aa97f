// Runs the consistency checks of an opened database in order; the first
// failing check runs its repair, whose result decides the run.
#ifndef KIVLIBRARY_PERSISTENCY_DBCONSISTENCY_DBCONSISTENCYCHECKER_H
#define KIVLIBRARY_PERSISTENCY_DBCONSISTENCY_DBCONSISTENCYCHECKER_H

#include "KivLibrary/Persistency/DBConsistency/DBCheck/DBCheck.h"
#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <memory>
#include <utility>
#include <vector>

class DBConsistencyChecker {
public:
    DBConsistencyChecker();

    // True when the database is usable after the run.
    bool Run(std::shared_ptr<PersistentDataStorage> storage);

private:
    std::vector<std::pair<std::shared_ptr<DBCheck>, std::shared_ptr<DBRepair>>> m_checks;
};

#endif
