// SPDX-License-Identifier: GPL-3.0-or-later
#include "pseudoterminal.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {
QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(
        QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(QString *error)
{
    close();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0) {
        if (error)
            *error = systemError("posix_openpt");
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0
        || ::ptsname_r(master, name, sizeof name) != 0) {
        if (error)
            *error = systemError("pseudo-terminal setup");
        ::close(master);
        return false;
    }
    // Raw mode is a property of the terminal, kept after our slave descriptor closes.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        if (error)
            *error = systemError("open slave");
        ::close(master);
        return false;
    }
    termios tio {};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::close(slave);
    m_master = master;
    m_slavePath = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PseudoTerminal::discardSlaveInput() const
{
    if (m_master < 0)
        return;
    const int slave
        = ::open(m_slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0)
        return; // held exclusively by a client: then it is listening anyway
    ::tcflush(slave, TCIFLUSH);
    ::close(slave);
}

bool pointSymlink(const QString &link, const QString &target, QString *error)
{
    const QFileInfo info(link);
    if (info.exists() && !info.isSymLink()) {
        if (error)
            *error = QStringLiteral("%1 exists and is not a symbolic link").arg(link);
        return false;
    }
    const QByteArray temporary = (link + QStringLiteral(".new%1").arg(::getpid())).toLocal8Bit();
    ::unlink(temporary.constData());
    if (::symlink(target.toLocal8Bit().constData(), temporary.constData()) != 0
        || ::rename(temporary.constData(), link.toLocal8Bit().constData()) != 0) {
        if (error)
            *error = systemError("symlink");
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

void removeSymlinkTo(const QString &link, const QString &target)
{
    const QFileInfo info(link);
    if (info.isSymLink() && info.symLinkTarget() == target)
        QFile::remove(link);
}
