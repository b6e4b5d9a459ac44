// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Saving and loading files so that a save is reported done only when it is on
// disk, and a load never hangs on or swallows something that is not a file.
//
// Every message is one line naming the path and the reason, meant for the
// user (a page message, a command-line error).

#include <QByteArray>
#include <QString>

namespace CheckedFile {

// Why `path` cannot be saved to, or empty when it can: it must be missing or a
// regular file (after symbolic links), and its folder must be a folder. A
// device, FIFO, socket or folder standing at `path` is refused, so that a save
// never replaces it with a regular file.
QString targetRefusal(const QString &path);

// Saves `data` as the whole of `path`: written to a new temporary file beside
// it, every write checked, flushed, synced and closed, then renamed over the
// target and the folder synced. Empty when done; otherwise why not, and the
// file that was there before is untouched.
QString save(const QString &path, const QByteArray &data);

// Whether a file can be saved at `path` now, before work whose result it will
// hold: the target as above, then a small temporary file beside it written,
// synced and removed. Empty when it can; otherwise why not.
QString probe(const QString &path);

struct Loading
{
    QByteArray data;
    // Why the file was not read; empty when it was.
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Reads the whole of `path`, a regular file (after symbolic links) of at most
// `limit` bytes. FIFOs, devices, sockets and folders are refused without
// waiting on them; a larger file is refused whole.
Loading load(const QString &path, qint64 limit);

// A file written as it goes (a recording), where renaming at the end would
// lose everything on a crash: every write and sync is checked, and the first
// failure is kept in error().
class Stream
{
public:
    Stream() = default;
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    // Creates `path`, which must not exist yet (a FIFO or device at `path` is
    // refused like an existing file).
    bool create(const QString &path);
    // Takes standard output (already open).
    bool attachStandardOutput();
    bool write(const QByteArray &data);
    // Flushes what the system holds to the disk (a pipe or terminal has
    // nothing to sync).
    bool sync();
    // Syncs and closes; false if that or any earlier step failed.
    bool close();

    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    QString error() const { return m_error; }
    qint64 written() const { return m_written; }

private:
    bool failWith(const QString &what, int error);

    int m_fd = -1;
    bool m_owned = false;
    bool m_regular = false;
    QString m_path;
    QString m_error;
    qint64 m_written = 0;
};

} // namespace CheckedFile
