// Interface of the routines whose work runs as tasks on the worker thread:
// each offers and withdraws its own service. Called by the routine services
// on the runtime thread.
#ifndef KIVLIBRARY_ROUTINES_ROUTINESERVICE_H
#define KIVLIBRARY_ROUTINES_ROUTINESERVICE_H

class RoutineService {
public:
    virtual ~RoutineService() = default;
    virtual void OfferService() = 0;
    virtual void StopOfferService() = 0;
};

#endif
