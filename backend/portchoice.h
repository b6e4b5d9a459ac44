// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class PortWatcher;
class QSettings;

// The ports the port box offers and the entry it preselects: the list as the
// system enumerates it plus the paths the user typed, and the port last picked
// or used, kept by name across list changes (and, once attached, on disk).
// Once attached it follows devices coming and going (PortWatcher).
class PortChoice : public QObject
{
    Q_OBJECT
public:
    // Fills the entries as the port box shows them and the port name behind
    // each, entry for entry.
    using Enumerate = std::function<void(QStringList *labels, QStringList *names)>;

    explicit PortChoice(Enumerate enumerate, QObject *parent = nullptr);
    ~PortChoice() override;

    // Keeps the last port in `settings` (may be null: nothing on disk, which
    // stays the caller's) and lists a path of the user's that was used last.
    void attach(QSettings *settings);

    // Enumerated when first asked for (or on attach, refresh): an enumeration
    // reads hundreds of device files, too many for every backend built.
    QStringList labels() const
    {
        listOnce();
        return m_labels;
    }
    QStringList names() const
    {
        listOnce();
        return m_names;
    }
    // The entry of the wanted port, else the first one, else -1.
    int selectedIndex() const;
    // The port picked, named or remembered (empty if none), and its entry:
    // -1 while it is not listed. Never falls back to another port.
    QString wanted() const { return m_wanted; }
    int wantedIndex() const;

    // Enumerates the ports again; the selection stays on the port it named.
    void refresh();
    void select(int index);
    // A listed entry, a port name, or a path (a name without '/' is looked for
    // in /dev): its index, listing the path if need be; -1 (and noDeviceAt)
    // when there is no such device.
    int usePath(const QString &text);
    // Like usePath, but a path is listed even if nothing is there yet.
    void preselect(const QString &nameOrPath);
    // Selects `name` and keeps it as the last port used.
    void remember(const QString &name);
    // Whether the port `name` (a system port or a path) is there now.
    bool present(const QString &name) const;

signals:
    void portsChanged();
    void selectedIndexChanged();
    // After every enumeration, whether or not the list changed.
    void listed();
    // A folder of a port named by path changed (once attached).
    void pathsMayHaveChanged();
    void noDeviceAt(const QString &path);

private:
    // The first enumeration, quietly: nobody can have seen an earlier list.
    void listOnce() const;
    void setWanted(const QString &name);
    void addUserPath(const QString &path);

    Enumerate m_enumerate;
    QSettings *m_settings = nullptr;
    PortWatcher *m_watcher = nullptr;
    mutable QStringList m_labels;
    mutable QStringList m_names;
    mutable bool m_listed = false;
    QString m_wanted;
};
