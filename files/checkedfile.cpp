// SPDX-License-Identifier: GPL-3.0-or-later
#include "checkedfile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CheckedFile {

namespace {

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString shown(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// "a FIFO", "a device", ... for what stands at a path; empty for a regular file.
QString kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return QString();
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

bool writeAll(int fd, const char *data, qint64 size, int *error)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, std::size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

bool syncFolder(const QString &folder, int *error)
{
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return false;
    }
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    if (!synced)
        *error = errno;
    ::close(fd);
    return synced;
}

} // namespace

QString targetRefusal(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name given");
    struct stat st
    {
    };
    if (::stat(encoded(path).constData(), &st) == 0) {
        const QString kind = kindOf(st.st_mode);
        if (!kind.isEmpty())
            return QStringLiteral("%1 is %2, not a file: not written").arg(shown(path), kind);
    } else if (errno != ENOENT && errno != ENOTDIR) {
        return QStringLiteral("cannot use %1: %2").arg(shown(path), reason(errno));
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (::stat(encoded(folder).constData(), &st) != 0)
        return QStringLiteral("cannot write %1: the folder %2 cannot be used: %3")
            .arg(shown(path), shown(folder), reason(errno));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("cannot write %1: %2 is not a folder")
            .arg(shown(path), shown(folder));
    return QString();
}

QString save(const QString &path, const QByteArray &data)
{
    const QString refusal = targetRefusal(path);
    if (!refusal.isEmpty())
        return refusal;
    // The target itself when it is a symbolic link: the link stays a link.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    const QString folder = QFileInfo(target).absolutePath();
    QByteArray pattern = encoded(
        QDir(folder).filePath(QStringLiteral(".%1.XXXXXX").arg(QFileInfo(target).fileName())));
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("cannot write %1: %2").arg(shown(path), reason(errno));
    int error = 0;
    bool ok = writeAll(fd, data.constData(), data.size(), &error);
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    // An existing file keeps its permissions; a new one gets the usual 0666 less umask.
    struct stat st
    {
    };
    mode_t mode = 0666;
    if (::stat(encoded(target).constData(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    if (ok && ::fchmod(fd, mode) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(pattern.constData(), encoded(target).constData()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(pattern.constData());
        return QStringLiteral("cannot write %1: %2").arg(shown(path), reason(error));
    }
    if (!syncFolder(folder, &error))
        return QStringLiteral("cannot sync the folder of %1: %2").arg(shown(path), reason(error));
    return QString();
}

QString probe(const QString &path)
{
    const QString refusal = targetRefusal(path);
    if (!refusal.isEmpty())
        return refusal;
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
    QByteArray pattern
        = encoded(QDir(QFileInfo(target).absolutePath()).filePath(QStringLiteral(".probe.XXXXXX")));
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("cannot write %1: %2").arg(shown(path), reason(errno));
    int error = 0;
    const QByteArray bytes(512, '\n');
    bool ok = writeAll(fd, bytes.constData(), bytes.size(), &error);
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    ::unlink(pattern.constData());
    return ok ? QString() : QStringLiteral("cannot write %1: %2").arg(shown(path), reason(error));
}

Loading load(const QString &path, qint64 limit)
{
    Loading loading;
    const QByteArray name = encoded(path);
    struct stat st
    {
    };
    if (::stat(name.constData(), &st) != 0) {
        loading.error = QStringLiteral("cannot read %1: %2").arg(shown(path), reason(errno));
        return loading;
    }
    const QString kind = kindOf(st.st_mode);
    if (!kind.isEmpty()) {
        loading.error = QStringLiteral("%1 is %2, not a file").arg(shown(path), kind);
        return loading;
    }
    // Non-blocking, and checked again once open: what stands there may have
    // been swapped since the look above.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        loading.error = QStringLiteral("cannot read %1: %2").arg(shown(path), reason(errno));
        return loading;
    }
    const auto fail = [&](const QString &why) {
        ::close(fd);
        loading.data.clear();
        loading.error = why;
        return loading;
    };
    if (::fstat(fd, &st) != 0)
        return fail(QStringLiteral("cannot read %1: %2").arg(shown(path), reason(errno)));
    if (!S_ISREG(st.st_mode))
        return fail(QStringLiteral("%1 is %2, not a file").arg(shown(path), kindOf(st.st_mode)));
    if (st.st_size > limit)
        return fail(QStringLiteral("%1 is larger than %2 bytes").arg(shown(path)).arg(limit));
    // One byte past the size tells a file that grew while being read; the
    // buffer grows with it up to one byte past the limit.
    loading.data.resize(int(std::min<qint64>(limit, qint64(st.st_size)) + 1));
    qint64 done = 0;
    while (done <= limit) {
        if (done == loading.data.size())
            loading.data.resize(int(std::min<qint64>(limit + 1, 2 * qint64(loading.data.size()))));
        const ssize_t n
            = ::read(fd, loading.data.data() + done, std::size_t(loading.data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(QStringLiteral("cannot read %1: %2").arg(shown(path), reason(errno)));
        if (n == 0)
            break;
        done += n;
    }
    if (done > limit)
        return fail(QStringLiteral("%1 is larger than %2 bytes").arg(shown(path)).arg(limit));
    ::close(fd);
    loading.data.resize(int(done));
    return loading;
}

Stream::~Stream()
{
    if (m_fd >= 0 && m_owned)
        ::close(m_fd);
}

bool Stream::failWith(const QString &what, int error)
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1 %2: %3").arg(what, shown(m_path), reason(error));
    return false;
}

bool Stream::create(const QString &path)
{
    m_path = path;
    const QString refusal = targetRefusal(path);
    if (!refusal.isEmpty()) {
        m_error = refusal;
        return false;
    }
    m_fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return failWith(QStringLiteral("cannot create"), errno);
    m_owned = true;
    m_regular = true;
    return true;
}

bool Stream::attachStandardOutput()
{
    m_path = QStringLiteral("standard output");
    m_fd = STDOUT_FILENO;
    m_owned = false;
    struct stat st
    {
    };
    m_regular = ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
    return true;
}

bool Stream::write(const QByteArray &data)
{
    if (!m_error.isEmpty() || m_fd < 0)
        return false;
    int error = 0;
    if (!writeAll(m_fd, data.constData(), data.size(), &error))
        return failWith(QStringLiteral("cannot write"), error);
    m_written += data.size();
    return true;
}

bool Stream::sync()
{
    if (!m_error.isEmpty() || m_fd < 0)
        return false;
    if (m_regular && ::fsync(m_fd) != 0)
        return failWith(QStringLiteral("cannot sync"), errno);
    return true;
}

bool Stream::close()
{
    if (m_fd < 0)
        return m_error.isEmpty();
    bool ok = sync();
    if (m_owned && ::close(m_fd) != 0)
        ok = failWith(QStringLiteral("cannot close"), errno);
    m_fd = -1;
    return ok && m_error.isEmpty();
}

} // namespace CheckedFile
