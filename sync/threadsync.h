// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QThread>

// Qt's mutex slow path, its queued calls and QThread::wait() order memory
// inside libQt5Core, which ThreadSanitizer does not see. Under
// -fsanitize=thread that order is announced explicitly where our code relies
// on it, so a sanitizer build reports only races of our own making. In other
// builds these are empty.
#if defined(__SANITIZE_THREAD__)
#define VELMAR_ANNOTATE_SYNC 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELMAR_ANNOTATE_SYNC 1
#endif
#endif

#ifdef VELMAR_ANNOTATE_SYNC
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
inline void syncAcquire(const void *addr)
{
    __tsan_acquire(const_cast<void *>(addr));
}
inline void syncRelease(const void *addr)
{
    __tsan_release(const_cast<void *>(addr));
}
#else
inline void syncAcquire(const void *) { }
inline void syncRelease(const void *) { }
#endif

// Waits for `thread` to finish its run(); pairs with RunEndMark at the top of run().
inline void waitForThread(QThread *thread)
{
    thread->wait();
    syncAcquire(thread);
}

class RunEndMark
{
public:
    explicit RunEndMark(QThread *thread)
        : m_thread(thread)
    { }
    ~RunEndMark() { syncRelease(m_thread); }
    RunEndMark(const RunEndMark &) = delete;
    RunEndMark &operator=(const RunEndMark &) = delete;

private:
    QThread *m_thread;
};
