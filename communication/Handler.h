// A field or event handler that a client attaches to its proxy; started and
// stopped with the client's lifecycle.
#ifndef COMMUNICATION_HANDLER_H
#define COMMUNICATION_HANDLER_H

class Handler {
public:
    virtual ~Handler() = default;
    virtual void Subscribe() = 0;
    virtual void Unsubscribe() = 0;
};

#endif
