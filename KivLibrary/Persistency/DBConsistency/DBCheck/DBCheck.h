// One consistency check of an opened database and the repair that belongs to it.
#ifndef KIVLIBRARY_PERSISTENCY_DBCONSISTENCY_DBCHECK_DBCHECK_H
#define KIVLIBRARY_PERSISTENCY_DBCONSISTENCY_DBCHECK_DBCHECK_H

#include "KivLibrary/Persistency/PersistentDataStorage.h"

#include <memory>

class DBCheck {
public:
    virtual ~DBCheck() = default;
    // True when the database is consistent.
    virtual bool Check(std::shared_ptr<PersistentDataStorage> storage) = 0;
};

class DBRepair {
public:
    virtual ~DBRepair() = default;
    // True when the database was repaired.
    virtual bool Repair(std::shared_ptr<PersistentDataStorage> storage) = 0;
};

#endif
