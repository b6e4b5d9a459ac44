// SPDX-License-Identifier: GPL-3.0-or-later
#include "renderMode.h"

#include "renderPolicy.h"

#include <QDebug>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSettings>

#include <cstdio>

namespace rendermode {

namespace {

const QString optionName = QStringLiteral("--render-mode");

} // namespace

bool parseChoice(const QString &text, Choice *choice)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("auto"))
        *choice = Choice::Auto;
    else if (word == QLatin1String("software"))
        *choice = Choice::Software;
    else if (word == QLatin1String("full"))
        *choice = Choice::Full;
    else
        return false;
    return true;
}

QString choiceName(Choice choice)
{
    switch (choice) {
    case Choice::Software:
        return QStringLiteral("software");
    case Choice::Full:
        return QStringLiteral("full");
    case Choice::Auto:
        break;
    }
    return QStringLiteral("auto");
}

bool isSoftwareRenderer(const QString &renderer)
{
    if (renderer.trimmed().isEmpty())
        return true;
    // Mesa: "llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Software
    // Rasterizer" (swrast), "Mesa X11"; Windows: "GDI Generic" and the
    // "Microsoft Basic Render Driver"; Chrome's SwiftShader; macOS's "Apple
    // Software Renderer".
    static const char *const names[] = {
        "llvmpipe",
        "softpipe",
        "swrast",
        "software rasterizer",
        "software renderer",
        "mesa x11",
        "gdi generic",
        "microsoft basic render",
        "swiftshader",
    };
    const QString lower = renderer.toLower();
    for (const char *name : names) {
        if (lower.contains(QLatin1String(name)))
            return true;
    }
    return false;
}

Decision decide(Choice option, Choice setting, const QString &renderer)
{
    if (option != Choice::Auto)
        return {option == Choice::Software, choiceName(option) + QStringLiteral(" (command line)")};
    if (setting != Choice::Auto)
        return {setting == Choice::Software,
            choiceName(setting) + QStringLiteral(" (setting %1)").arg(settingKey())};
    const bool software = isSoftwareRenderer(renderer);
    const QString shown = renderer.trimmed().isEmpty()
        ? QStringLiteral("no OpenGL renderer")
        : QStringLiteral("renderer \"%1\"").arg(renderer.trimmed());
    return {software,
        choiceName(software ? Choice::Software : Choice::Full)
            + QStringLiteral(" (%1)").arg(shown)};
}

bool optionFromArguments(const QStringList &arguments, Choice *choice, QString *error)
{
    Choice found = Choice::Auto;
    // The first argument is the program.
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        QString value;
        if (argument == optionName) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value: auto, software or full").arg(optionName);
                return false;
            }
            value = arguments.at(++i);
        } else if (argument.startsWith(optionName + QLatin1Char('='))) {
            value = argument.mid(optionName.size() + 1);
        } else {
            continue;
        }
        if (!parseChoice(value, &found)) {
            *error = QStringLiteral("%1: unknown value \"%2\" (auto, software or full)")
                         .arg(optionName, value);
            return false;
        }
    }
    *choice = found;
    return true;
}

QString settingKey()
{
    return QStringLiteral("rendering/mode");
}

Choice settingFrom(const QSettings &settings)
{
    Choice choice = Choice::Auto;
    if (!parseChoice(settings.value(settingKey()).toString(), &choice))
        return Choice::Auto;
    return choice;
}

QString openGlRenderer()
{
    QOpenGLContext context;
    if (!context.create())
        return QString();
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return QString();
    const auto *name
        = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    const QString renderer = name ? QString::fromLatin1(name) : QString();
    context.doneCurrent();
    return renderer;
}

bool applyAtStartup(const QStringList &arguments)
{
    Choice option = Choice::Auto;
    QString error;
    if (!optionFromArguments(arguments, &option, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const QSettings settings(QStringLiteral("Velmar"), QStringLiteral("Velmar IMU"));
    const Choice setting = settingFrom(settings);
    // Asking the renderer costs a context; skip it when the choice is made.
    const QString renderer
        = option == Choice::Auto && setting == Choice::Auto ? openGlRenderer() : QString();
    const Decision decision = decide(option, setting, renderer);
    RenderPolicy::shared().setSoftware(decision.software);
    qInfo().noquote() << "Rendering:" << decision.reason;
    return true;
}

} // namespace rendermode
