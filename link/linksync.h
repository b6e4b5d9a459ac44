// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>

#include "threadsync.h"

// The link's locking, with the order its Qt locks establish announced to
// ThreadSanitizer (see threadsync.h).
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
