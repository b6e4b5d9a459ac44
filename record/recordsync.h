// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's queued calls and QThread::wait() order the hand-over of the writer
// between threads inside libQt5Core, which ThreadSanitizer does not see;
// under -fsanitize=thread that order is announced explicitly, so that a
// sanitizer build reports only races of our own making.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define RECORD_ANNOTATE_SYNC 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RECORD_ANNOTATE_SYNC 1
#endif
#endif

#ifdef RECORD_ANNOTATE_SYNC
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
inline void recordSyncAcquire(const void *addr)
{
    __tsan_acquire(const_cast<void *>(addr));
}
inline void recordSyncRelease(const void *addr)
{
    __tsan_release(const_cast<void *>(addr));
}
#else
inline void recordSyncAcquire(const void *) { }
inline void recordSyncRelease(const void *) { }
#endif
