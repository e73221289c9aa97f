// Where a service goes whose withdrawal gave up on a method call that still
// runs: the call goes on using the service, so it must never be freed. The
// process is ending when this happens; what is kept here is not released.
#ifndef KIVLIBRARY_KIVLIBRARY_SERVICEKEEPER_H
#define KIVLIBRARY_KIVLIBRARY_SERVICEKEEPER_H

#include <memory>
#include <string>

// Thread-safe; an empty pointer is ignored.
void KeepWhileProcessLives(std::shared_ptr<void> service, const std::string& name);

#endif
