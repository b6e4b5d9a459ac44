// SPDX-License-Identifier: GPL-3.0-or-later
#include "applog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QtGlobal>

#include <cstdio>

namespace {

// A log longer than this starts afresh, the old one kept as .log.1.
constexpr qint64 maxLogBytes = 4 * 1024 * 1024;

struct Sink
{
    QMutex mutex; // messages come from the link's thread too
    QFile file;
    bool verbose = false;
};

Sink &sink()
{
    static Sink instance;
    return instance;
}

void rotateIfLong(QFile &file)
{
    if (file.size() < maxLogBytes)
        return;
    const QString path = file.fileName();
    file.close();
    QFile::remove(path + QStringLiteral(".1"));
    QFile::rename(path, path + QStringLiteral(".1"));
    file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QString line = qFormatLogMessage(type, context, text);
    Sink &s = sink();
    const bool quiet = type == QtDebugMsg || type == QtInfoMsg;
    {
        QMutexLocker lock(&s.mutex);
        if (s.file.isOpen()) {
            const QByteArray bytes = QDateTime::currentDateTime()
                                         .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "))
                                         .toUtf8()
                + line.toUtf8() + '\n';
            s.file.write(bytes);
            s.file.flush();
            rotateIfLong(s.file);
        }
        if (s.verbose || !quiet || !s.file.isOpen()) {
            std::fputs(line.toLocal8Bit().constData(), stderr);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
    }
    if (type == QtFatalMsg)
        abort();
}

} // namespace

QString applog::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/velmar-imu/velmar-imu.log");
}

bool applog::verboseFromEnvironment()
{
    const QString value = qEnvironmentVariable("VELMAR_IMU_VERBOSE").trimmed();
    return !value.isEmpty() && value != QLatin1String("0");
}

QString applog::install(const QString &path, bool verbose)
{
    Sink &s = sink();
    {
        QMutexLocker lock(&s.mutex);
        s.verbose = verbose;
        if (s.file.isOpen())
            s.file.close();
        QDir().mkpath(QFileInfo(path).absolutePath());
        s.file.setFileName(path);
        if (s.file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            rotateIfLong(s.file);
    }
    qInstallMessageHandler(handler);
    QMutexLocker lock(&s.mutex);
    return s.file.isOpen() ? path : QString();
}
