// What the session needs of the download worker that it holds: stop it and
// wait for its end. The worker itself is built above this library.
// Threading: as the implementation's.
#ifndef KIVLIBRARY_GLOBALLIBRARY_DOWNLOADWORKER_H
#define KIVLIBRARY_GLOBALLIBRARY_DOWNLOADWORKER_H

class DownloadWorker {
public:
    virtual ~DownloadWorker() = default;
    // Every buffered piece is handed on, then the worker's thread is joined.
    virtual void stopAndJoin() = 0;
};

#endif
