// SPDX-License-Identifier: GPL-3.0-or-later
// velmar-cli: the module from the command line, without a display.
#include "clicommands.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {
// The link's and the backend's diagnostics would mix with the output scripts
// parse; they go to standard error only when asked for.
void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtFatalMsg || qEnvironmentVariableIsSet("VELMAR_CLI_DEBUG"))
        std::fprintf(stderr, "%s\n", qPrintable(text));
}
} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietMessages);
    // A file-size limit reached is a failed write to report, not a kill.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmar-cli"));
    return runCliCommand(QCoreApplication::arguments().mid(1));
}
