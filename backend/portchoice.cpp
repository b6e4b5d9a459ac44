// SPDX-License-Identifier: GPL-3.0-or-later
#include "portchoice.h"

#include "portwatcher.h"

#include "serialports.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const QString lastPortKey = QStringLiteral("ports/last");
const QString devPrefix = QStringLiteral("/dev/");

QString pathFor(const QString &typed)
{
    if (!typed.contains(QLatin1Char('/')))
        return devPrefix + typed;
    return typed.startsWith(QLatin1Char('/')) ? typed : QFileInfo(typed).absoluteFilePath();
}
} // namespace

PortChoice::PortChoice(Enumerate enumerate, QObject *parent)
    : QObject(parent)
    , m_enumerate(std::move(enumerate))
{ }

PortChoice::~PortChoice() = default;

void PortChoice::attach(QSettings *settings)
{
    m_settings = settings;
    listOnce();
    if (m_settings) {
        const QString last = m_settings->value(lastPortKey).toString();
        // A path of the user's is listed again if it is there; a system port is
        // listed by the system when it is there.
        if (last.startsWith(QLatin1Char('/')) && !m_names.contains(last) && QFileInfo::exists(last))
            addUserPath(last);
        if (!last.isEmpty())
            m_wanted = last;
    }
    m_watcher = new PortWatcher(this);
    connect(m_watcher, &PortWatcher::portsMayHaveChanged, this, &PortChoice::refresh);
    connect(m_watcher, &PortWatcher::pathsMayHaveChanged, this, &PortChoice::pathsMayHaveChanged);
    m_watcher->watchPortsIn(m_names);
    refresh();
}

void PortChoice::listOnce() const
{
    if (m_listed)
        return;
    m_listed = true;
    m_enumerate(&m_labels, &m_names);
}

int PortChoice::wantedIndex() const
{
    listOnce();
    if (m_wanted.isEmpty())
        return -1;
    int index = m_names.indexOf(m_wanted);
    // "/dev/ttyUSB0" typed while it was unplugged is "ttyUSB0" once the system lists it.
    if (index < 0 && m_wanted.startsWith(devPrefix))
        index = m_names.indexOf(m_wanted.mid(devPrefix.size()));
    return index;
}

int PortChoice::selectedIndex() const
{
    const int index = wantedIndex();
    if (index >= 0)
        return index;
    return m_names.isEmpty() ? -1 : 0;
}

void PortChoice::refresh()
{
    const int before = m_listed ? selectedIndex() : -1;
    QStringList labels;
    QStringList names;
    m_enumerate(&labels, &names);
    m_listed = true;
    const bool changed = labels != m_labels || names != m_names;
    if (changed) {
        m_labels = labels;
        m_names = names;
        if (m_watcher)
            m_watcher->watchPortsIn(m_names);
        emit portsChanged();
    }
    // Also after any change of the list: the port box re-applies it to its new model.
    if (changed || selectedIndex() != before)
        emit selectedIndexChanged();
    emit listed();
}

void PortChoice::select(int index)
{
    listOnce();
    if (index >= 0 && index < m_names.size())
        setWanted(m_names.at(index));
}

int PortChoice::usePath(const QString &text)
{
    const QString typed = text.trimmed();
    if (typed.isEmpty())
        return -1;
    refresh();
    int index = m_labels.indexOf(typed);
    if (index < 0)
        index = m_names.indexOf(typed);
    if (index < 0 && typed.startsWith(devPrefix))
        index = m_names.indexOf(typed.mid(devPrefix.size()));
    if (index < 0) {
        const QString path = pathFor(typed);
        if (!QFileInfo::exists(path)) {
            emit noDeviceAt(path);
            return -1;
        }
        addUserPath(path);
        refresh();
        index = m_names.indexOf(path);
    }
    select(index);
    return index;
}

void PortChoice::preselect(const QString &nameOrPath)
{
    const QString typed = nameOrPath.trimmed();
    if (typed.isEmpty())
        return;
    refresh();
    int index = m_names.indexOf(typed);
    if (index < 0 && typed.startsWith(devPrefix))
        index = m_names.indexOf(typed.mid(devPrefix.size()));
    if (index < 0) {
        // Named on purpose: listed even if it is not there yet, so that Connect
        // says why it cannot be opened.
        addUserPath(pathFor(typed));
        refresh();
        index = m_names.indexOf(pathFor(typed));
    }
    select(index);
}

void PortChoice::remember(const QString &name)
{
    setWanted(name);
    if (m_settings)
        m_settings->setValue(lastPortKey, name);
}

bool PortChoice::present(const QString &name) const
{
    // A path is there when it leads to something (a dangling symbolic link is
    // a module gone); a system port when the system lists it.
    if (name.contains(QLatin1Char('/')))
        return QFileInfo::exists(name);
    listOnce();
    return m_names.contains(name);
}

void PortChoice::setWanted(const QString &name)
{
    if (name == m_wanted)
        return;
    const int before = selectedIndex();
    m_wanted = name;
    if (selectedIndex() != before)
        emit selectedIndexChanged();
}

void PortChoice::addUserPath(const QString &path)
{
    QStringList paths = userPortPaths();
    if (!paths.contains(path)) {
        paths.append(path);
        setUserPortPaths(paths);
    }
}
