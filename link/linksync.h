// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QThread>

// The link's locking. Qt's mutex slow path and QThread::wait() live inside
// libQt5Core, which ThreadSanitizer does not see; under -fsanitize=thread the
// order they establish is announced explicitly, so a sanitizer build of the
// link reports only races of our own making.
#if defined(__SANITIZE_THREAD__)
#define LINK_ANNOTATE_SYNC 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LINK_ANNOTATE_SYNC 1
#endif
#endif

#ifdef LINK_ANNOTATE_SYNC
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

class LinkLocker
{
public:
    explicit LinkLocker(QMutex *mutex)
        : m_mutex(mutex)
    {
        relock();
    }
    ~LinkLocker()
    {
        if (m_locked)
            unlock();
    }
    LinkLocker(const LinkLocker &) = delete;
    LinkLocker &operator=(const LinkLocker &) = delete;

    void unlock()
    {
        syncRelease(m_mutex);
        m_mutex->unlock();
        m_locked = false;
    }
    void relock()
    {
        m_mutex->lock();
        syncAcquire(m_mutex);
        m_locked = true;
    }

private:
    QMutex *m_mutex;
    bool m_locked = false;
};

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

private:
    QThread *m_thread;
};
