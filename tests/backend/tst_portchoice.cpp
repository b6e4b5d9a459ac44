// SPDX-License-Identifier: GPL-3.0-or-later
// The port box's list and pick on their own, with the system's ports played by
// a list the test sets: the pick follows its port by name while the list
// changes, typed names and paths are matched or listed, a missing device is
// refused, and the last port used is kept in the settings and picked again.
#include "portchoice.h"

#include "serialports.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestPortChoice : public QObject
{
    Q_OBJECT

private:
    // The system's serial ports as this test sets them, then the user's paths,
    // as the backend lists them.
    QStringList system;
    QTemporaryDir dir;

    std::unique_ptr<PortChoice> makeChoice()
    {
        return std::make_unique<PortChoice>([this](QStringList *labels, QStringList *names) {
            *names = system + userPortPaths();
            *labels = QStringList();
            for (const QString &name : *names)
                *labels << name + QStringLiteral(": port");
        });
    }
    QString deviceFile(const QString &name)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        return file.open(QIODevice::WriteOnly) ? path : QString();
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        system = QStringList {QStringLiteral("ttyS0"), QStringLiteral("ttyUSB0")};
        setUserPortPaths({});
    }
    void cleanup() { setUserPortPaths({}); }

    // An enumeration reads hundreds of device files: none until the list is
    // wanted, then one, however often it is read; attaching finds the
    // remembered port among them, not beside them.
    void portsAreEnumeratedOnceWhenFirstWanted()
    {
        int enumerations = 0;
        PortChoice choice([&](QStringList *labels, QStringList *names) {
            ++enumerations;
            *names = system + userPortPaths();
            *labels = *names;
        });
        QCOMPARE(enumerations, 0);
        QCOMPARE(choice.selectedIndex(), 0);
        QCOMPARE(choice.names(), system);
        QCOMPARE(choice.labels(), system);
        QVERIFY(choice.present(QStringLiteral("ttyUSB0")));
        QCOMPARE(enumerations, 1);
        choice.refresh();
        QCOMPARE(enumerations, 2);

        int again = 0;
        PortChoice attached([&](QStringList *labels, QStringList *names) {
            ++again;
            *names = system + userPortPaths();
            *labels = *names;
        });
        // A path the system lists (a module behind a symbolic link, say).
        const QString listedPath = deviceFile(QStringLiteral("listed"));
        QVERIFY(!listedPath.isEmpty());
        system << listedPath;
        QSettings settings(dir.filePath(QStringLiteral("lazy.ini")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("ports/last"), listedPath);
        attached.attach(&settings);
        QCOMPARE(attached.names(), system); // not listed a second time as a path
        QCOMPARE(attached.selectedIndex(), 2);
        QVERIFY(userPortPaths().isEmpty());
    }

    void pickFollowsItsPortAcrossListChanges()
    {
        auto choice = makeChoice();
        choice->refresh();
        QCOMPARE(choice->names(), system);
        QCOMPARE(choice->labels().first(), QStringLiteral("ttyS0: port"));
        QCOMPARE(choice->selectedIndex(), 0); // nothing wanted: the first entry
        QSignalSpy picked(choice.get(), &PortChoice::selectedIndexChanged);
        QSignalSpy listChanged(choice.get(), &PortChoice::portsChanged);
        QSignalSpy listed(choice.get(), &PortChoice::listed);
        choice->select(1);
        QCOMPARE(choice->selectedIndex(), 1);
        QCOMPARE(picked.count(), 1);
        choice->select(7); // out of range: nothing changes
        QCOMPARE(choice->selectedIndex(), 1);

        // A port plugged in before it: the pick stays on ttyUSB0.
        system.prepend(QStringLiteral("ttyACM0"));
        choice->refresh();
        QCOMPARE(listChanged.count(), 1);
        QCOMPARE(choice->selectedIndex(), 2);
        // The same list again: no list change, but listed all the same.
        choice->refresh();
        QCOMPARE(listChanged.count(), 1);
        QCOMPARE(listed.count(), 2);
        // The picked port gone: the first entry, and back on it when it returns.
        system.removeAll(QStringLiteral("ttyUSB0"));
        choice->refresh();
        QCOMPARE(choice->selectedIndex(), 0);
        system.append(QStringLiteral("ttyUSB0"));
        choice->refresh();
        QCOMPARE(choice->names().at(2), QStringLiteral("ttyUSB0"));
        QCOMPARE(choice->selectedIndex(), 2);
        system.clear();
        choice->refresh();
        QCOMPARE(choice->selectedIndex(), -1);
    }

    void typedNamesAndPathsAreMatchedOrListed()
    {
        auto choice = makeChoice();
        choice->refresh();
        QSignalSpy missing(choice.get(), &PortChoice::noDeviceAt);
        QCOMPARE(choice->usePath(QStringLiteral("  ttyUSB0 ")), 1);
        QCOMPARE(choice->usePath(QStringLiteral("ttyS0: port")), 0);
        QCOMPARE(choice->usePath(QStringLiteral("/dev/ttyUSB0")), 1);
        QCOMPARE(choice->usePath(QString()), -1);
        QCOMPARE(missing.count(), 0);

        // A device by path: listed as the user's, picked.
        const QString path = deviceFile(QStringLiteral("module"));
        QVERIFY(!path.isEmpty());
        QCOMPARE(choice->usePath(path), 2);
        QCOMPARE(choice->names().at(2), path);
        QCOMPARE(userPortPaths(), QStringList {path});
        QCOMPARE(choice->usePath(path), 2); // not listed twice
        QCOMPARE(choice->names().size(), 3);

        // Nothing there: refused, named, nothing listed, the pick unchanged.
        const QString gone = dir.filePath(QStringLiteral("gone"));
        QCOMPARE(choice->usePath(gone), -1);
        QCOMPARE(missing.count(), 1);
        QCOMPARE(missing.first().first().toString(), gone);
        QCOMPARE(choice->selectedIndex(), 2);
        // A bare name that is not listed is looked for in /dev.
        QCOMPARE(choice->usePath(QStringLiteral("velmar-no-such-port")), -1);
        QCOMPARE(missing.last().first().toString(), QStringLiteral("/dev/velmar-no-such-port"));
    }

    void presentTellsPortsAndPathsApart()
    {
        auto choice = makeChoice();
        choice->refresh();
        QVERIFY(choice->present(QStringLiteral("ttyS0")));
        QVERIFY(!choice->present(QStringLiteral("ttyUSB9")));
        const QString path = deviceFile(QStringLiteral("there"));
        QVERIFY(choice->present(path)); // a path needs no listing, only a file
        QVERIFY(!choice->present(dir.filePath(QStringLiteral("not-there"))));
        // A dangling link is a module gone.
        const QString link = dir.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("not-there")), link));
        QVERIFY(!choice->present(link));
    }

    void preselectedPathIsListedBeforeItExists()
    {
        auto choice = makeChoice();
        const QString later = dir.filePath(QStringLiteral("later"));
        choice->preselect(later);
        QCOMPARE(choice->names().last(), later);
        QCOMPARE(choice->selectedIndex(), choice->names().size() - 1);
        // "/dev/ttyUSB0" picks the port the system lists as "ttyUSB0".
        choice->preselect(QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(choice->selectedIndex(), 1);
        // Wanted by its device path while unplugged: picked once the system
        // lists it by name.
        choice->remember(QStringLiteral("/dev/ttyUSB9"));
        QCOMPARE(choice->selectedIndex(), 0);
        system.append(QStringLiteral("ttyUSB9"));
        choice->refresh();
        QCOMPARE(choice->selectedIndex(), choice->names().indexOf(QStringLiteral("ttyUSB9")));
    }

    void lastPortIsKeptAndPickedAgain()
    {
        const QString ini = dir.filePath(QStringLiteral("velmar.ini"));
        const QString path = deviceFile(QStringLiteral("module"));
        {
            QSettings settings(ini, QSettings::IniFormat);
            auto choice = makeChoice();
            choice->attach(&settings);
            choice->remember(path);
            QCOMPARE(settings.value(QStringLiteral("ports/last")).toString(), path);
        }
        setUserPortPaths({});
        {
            // A new run: the path of the user's is listed again and picked.
            QSettings settings(ini, QSettings::IniFormat);
            auto choice = makeChoice();
            choice->attach(&settings);
            QCOMPARE(choice->names().last(), path);
            QCOMPARE(choice->selectedIndex(), choice->names().size() - 1);
        }
        setUserPortPaths({});
        QFile::remove(path);
        {
            // Gone meanwhile: not listed, the first entry is picked, and the
            // setting stays for when it is back.
            QSettings settings(ini, QSettings::IniFormat);
            auto choice = makeChoice();
            choice->attach(&settings);
            QVERIFY(!choice->names().contains(path));
            QCOMPARE(choice->selectedIndex(), 0);
            QCOMPARE(settings.value(QStringLiteral("ports/last")).toString(), path);
        }
    }
};

QTEST_GUILESS_MAIN(TestPortChoice)
#include "tst_portchoice.moc"
