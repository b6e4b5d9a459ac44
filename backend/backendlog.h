// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// Our own diagnostics of the backend; the module's quoted debug lines stay plain qDebug.
Q_DECLARE_LOGGING_CATEGORY(lcBackend)
