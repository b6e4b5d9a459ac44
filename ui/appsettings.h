// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>

// The one settings file every part of the application keeps its settings in,
// `~/.config/Velmar/Velmar IMU.conf` (under XDG_CONFIG_HOME when set), named
// here so that no part builds its QSettings from the program's names.
namespace AppSettings {

constexpr const char *organization = "Velmar";
constexpr const char *application = "Velmar IMU";

std::unique_ptr<QSettings> open();

// A yes/no setting: true/false, on/off, yes/no or 1/0 (any case). A value that
// is none of these is replaced by `fallback` in the file, and `problem` (when
// given) says so in one sentence meant for the user; it is empty otherwise.
bool readBool(QSettings &settings, const QString &key, bool fallback, QString *problem = nullptr);

// Checks every key the documented file may hold (window/geometry,
// window/maximized, export/folder, recording/location, moduleFiles/folder,
// ports/last, connection/autoReconnect, rendering/mode). A value the
// application cannot use is replaced by the default (for most keys that is
// the key left out) and named in one sentence each, so that it is reported
// once, not at every start.
QStringList repair(QSettings &settings);

// The words "rendering/mode" takes, in any case: auto, software, full.
bool isRenderingMode(const QString &text);

} // namespace AppSettings
