// Carries the programming attempts of an update over to the installed records,
// so that an attempt still counts after a rollback.
#ifndef KIVLIBRARY_PERSISTENCY_PROGRAMMINGATTEMPTSCOUNTERS_H
#define KIVLIBRARY_PERSISTENCY_PROGRAMMINGATTEMPTSCOUNTERS_H

#include <memory>

class PersistentDataStorage;

// For each UPDATED block in list order, the first INSTALLED block with the same
// id takes its programming attempts; the INSTALLED list is written back. Nothing is
// written when either list cannot be read: writing back a list that could not
// be read would erase the stored block records. True when the list was written.
bool CopyProgrammingAttemptsCounters(const std::shared_ptr<PersistentDataStorage>& storage);

#endif
