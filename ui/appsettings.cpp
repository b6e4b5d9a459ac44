// SPDX-License-Identifier: GPL-3.0-or-later
#include "appsettings.h"

#include <QDir>
#include <QRect>
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

bool isRenderingMode(const QString &text)
{
    const QString word = text.trimmed().toLower();
    return word == QLatin1String("auto") || word == QLatin1String("software")
        || word == QLatin1String("full");
}

namespace {

enum class Kind { Geometry, Bool, Folder, Port, RenderingMode };

struct Key
{
    const char *name;
    Kind kind;
};

constexpr Key documentedKeys[]
    = {{"window/geometry", Kind::Geometry}, {"window/maximized", Kind::Bool},
        {"export/folder", Kind::Folder}, {"recording/location", Kind::Folder},
        {"moduleFiles/folder", Kind::Folder}, {"ports/last", Kind::Port},
        {"connection/autoReconnect", Kind::Bool}, {"rendering/mode", Kind::RenderingMode}};

// Empty when the value can be used; otherwise what it should have been.
QString unusable(Kind kind, const QVariant &value)
{
    const bool isText = value.userType() == QMetaType::QString;
    switch (kind) {
    case Kind::Geometry:
        if (value.userType() == QMetaType::QRect && value.toRect().isValid())
            return {};
        return QStringLiteral("a window position and size");
    case Kind::Folder:
        // A relative folder would move with the working directory.
        if (isText && QDir::isAbsolutePath(value.toString()))
            return {};
        return QStringLiteral("a folder's full path");
    case Kind::Port:
        if (isText)
            return {};
        return QStringLiteral("one port name");
    case Kind::RenderingMode:
        if (isText && isRenderingMode(value.toString()))
            return {};
        return QStringLiteral("auto, software or full");
    case Kind::Bool:
        break;
    }
    return {};
}

QString shown(const QVariant &value)
{
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

} // namespace

QStringList repair(QSettings &settings)
{
    QStringList problems;
    for (const Key &key : documentedKeys) {
        const QString name = QLatin1String(key.name);
        if (!settings.contains(name))
            continue;
        if (key.kind == Kind::Bool) {
            QString problem;
            const bool fallback = name != QLatin1String("window/maximized");
            readBool(settings, name, fallback, &problem);
            if (!problem.isEmpty())
                problems << problem;
            continue;
        }
        const QVariant value = settings.value(name);
        const QString expected = unusable(key.kind, value);
        if (expected.isEmpty())
            continue;
        settings.remove(name);
        problems << QStringLiteral("The setting %1 in %2 was \"%3\", which is not %4; the "
                                   "default is used.")
                        .arg(name, settings.fileName(), shown(value), expected);
    }
    return problems;
}

} // namespace AppSettings
