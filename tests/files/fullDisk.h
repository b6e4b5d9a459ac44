// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs `work` in a child process whose files may grow to `limitBytes` at most,
// as on a disk that is nearly full: writes past it fail (EFBIG) instead of
// killing the child. Returns what `work` returned, or a line saying why the
// child did not finish.
#include <QByteArray>
#include <QString>

#include <functional>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

inline QString underFileSizeLimit(rlim_t limitBytes, const std::function<QString()> &work)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return QStringLiteral("test: no pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit {limitBytes, limitBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const QByteArray answer = work().toUtf8();
        ssize_t n = ::write(channel[1], answer.constData(), std::size_t(answer.size()));
        ::_exit(n == answer.size() ? 0 : 1);
    }
    ::close(channel[1]);
    QByteArray answer;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(channel[0], buffer, sizeof buffer)) > 0)
        answer.append(buffer, int(n));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("test: the child did not finish (status %1)").arg(status);
    return QString::fromUtf8(answer);
}
