// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class QSettings;

// Whether the live page draws as on hardware OpenGL ("full") or draws less for
// a software renderer ("software"), and who decides: the command line
// (--render-mode auto|software|full) beats the setting "rendering/mode", which
// beats what the OpenGL renderer says it is.
namespace rendermode {

enum class Choice {
    Auto,
    Software,
    Full,
};

// "auto", "software" or "full" (any case, blanks around ignored).
bool parseChoice(const QString &text, Choice *choice);
QString choiceName(Choice choice);

// Whether an OpenGL renderer string names a renderer that draws on the CPU:
// Mesa's llvmpipe, softpipe and swrast, and their like on other systems. An
// empty string (no OpenGL at all) counts as software.
bool isSoftwareRenderer(const QString &renderer);

struct Decision
{
    bool software = false;
    // One line for the log, e.g. "software (renderer \"llvmpipe ...\")".
    QString reason;
};
Decision decide(Choice option, Choice setting, const QString &renderer);

// The value of --render-mode (or --render-mode=VALUE) among the program's
// arguments; the last one counts. Auto when absent. False with `error` set
// when the value is missing or unknown.
bool optionFromArguments(const QStringList &arguments, Choice *choice, QString *error);

// The setting, Auto when unset; an unknown value counts as Auto.
Choice settingFrom(const QSettings &settings);
// Where the setting lives.
QString settingKey();

// GL_RENDERER of a context made on a hidden surface; empty when OpenGL is
// unavailable. Needs the application object.
QString openGlRenderer();

// At start-up, after the application object and before the documents load:
// reads the option, the setting and the renderer, applies the decision to the
// charts and the 3D view and logs it. False (message on stderr) on a bad
// option.
bool applyAtStartup(const QStringList &arguments);

} // namespace rendermode
