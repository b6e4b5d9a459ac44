// SPDX-License-Identifier: GPL-3.0-or-later
#include "appsettings.h"

#include <QVariant>

namespace AppSettings {

std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(QLatin1String(organization), QLatin1String(application));
}

bool readBool(QSettings &settings, const QString &key, bool fallback, QString *problem)
{
    if (problem)
        problem->clear();
    if (!settings.contains(key))
        return fallback;
    const QVariant value = settings.value(key);
    const QString text = value.toString().trimmed().toLower();
    for (const char *yes : {"true", "on", "yes", "1"}) {
        if (text == QLatin1String(yes))
            return true;
    }
    for (const char *no : {"false", "off", "no", "0"}) {
        if (text == QLatin1String(no))
            return false;
    }
    // Replaced, so that it is reported once rather than at every start.
    settings.setValue(key, fallback);
    if (problem)
        *problem = QStringLiteral("The setting %1 in %2 was \"%3\", which is not true or false; "
                                  "it is now %4.")
                       .arg(key, settings.fileName(), value.toString(),
                           fallback ? QStringLiteral("true") : QStringLiteral("false"));
    return fallback;
}

} // namespace AppSettings
