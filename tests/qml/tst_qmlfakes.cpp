// SPDX-License-Identifier: GPL-3.0-or-later
// The QML tests run the interface against hand-written stand-ins. A stand-in
// that drifts from the class it stands for lets a page pass its tests and break
// in the application, so each is compared with its class through the
// meta-objects: properties (name and type), signals, public slots and
// invokables (signature and return type).
#include "calibrationguide.h"
#include "connectioncontroller.h"
#include "durUzaBackend.h"
#include "fakeBackend.h"
#include "fakeConnection.h"
#include "modulebackups.h"
#include "modulefiles.h"
#include "recordingcontroller.h"

#include <QDirIterator>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

// What QML can reach on an object beyond QObject's own members.
QSet<QString> surfaceOf(const QMetaObject &meta)
{
    QSet<QString> surface;
    const QMetaObject &base = QObject::staticMetaObject;
    for (int i = base.propertyCount(); i < meta.propertyCount(); ++i) {
        const QMetaProperty p = meta.property(i);
        surface.insert(QStringLiteral("property %1 %2")
                           .arg(QString::fromLatin1(p.typeName()), QString::fromLatin1(p.name())));
    }
    for (int i = base.methodCount(); i < meta.methodCount(); ++i) {
        const QMetaMethod m = meta.method(i);
        if (m.access() != QMetaMethod::Public && m.methodType() != QMetaMethod::Signal)
            continue;
        const char *kind = m.methodType() == QMetaMethod::Signal ? "signal" : "method";
        surface.insert(QStringLiteral("%1 %2 %3")
                           .arg(QString::fromLatin1(kind), QString::fromLatin1(m.typeName()),
                               QString::fromLatin1(m.methodSignature())));
    }
    return surface;
}

QString listed(QStringList items)
{
    items.sort();
    return items.join(QStringLiteral("\n    "));
}

// Name of a member as QML writes it: "property int count" gives "count",
// "method bool act(int)" gives "act".
QString memberName(const QString &entry)
{
    const int paren = entry.indexOf(QLatin1Char('('));
    const QString head = paren < 0 ? entry : entry.left(paren);
    return head.section(QLatin1Char(' '), -1);
}

// Every interface document's text, read once.
const QStringList &documents()
{
    static const QStringList texts = [] {
        QStringList all;
        QDirIterator it(QStringLiteral(VELMAR_QML_DIR), {QStringLiteral("*.qml")}, QDir::Files,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly))
                all << QString::fromUtf8(file.readAll());
        }
        return all;
    }();
    return texts;
}

// Members a stand-in may have beyond its class: the tests' own levers; and
// members of the class it leaves out, which no interface document may use.
// Anything else it has, or lacks, is drift.
struct Pair
{
    const QMetaObject *fake;
    const QMetaObject *real;
    QStringList testLevers;
    QStringList notFaked;
};

} // namespace

Q_DECLARE_METATYPE(Pair)

class QmlFakesTest : public QObject
{
    Q_OBJECT

private slots:
    void standInMatchesItsClass_data();
    void standInMatchesItsClass();
    void driftIsFound();
};

void QmlFakesTest::standInMatchesItsClass_data()
{
    QTest::addColumn<Pair>("pair");
    QTest::newRow("backend") << Pair {&FakeBackend::staticMetaObject,
        &DurUzaBackend::staticMetaObject,
        {"method QStringList callOrder()", "method QVariantList lastArguments(QString)",
            "method int callCount(QString)", "method void reset()",
            "method void setConnected(bool)", "method void setDataProblem(QString)",
            "method void setList(QString,QVariantList)", "method void setMagVector(QVector3D)",
            "method void setPorts(QStringList)", "method void setProgress(double)",
            "method void setRegisterFromModule(int,QVariant)",
            "method void setRestoreOffers(QVariantList)", "method QString fileText(QString)",
            "method QString writeNoiseCsv(double,double)",
            "method QString writeNoiseCsv(double,double,bool)",
            "method QString writeNoiseCsv(double,double,bool,bool)",
            "method void feedNoiseSamples(double,double)",
            "method void feedNoiseSamples(double,double,bool)",
            "method void feedNoiseTemperature(double)", "method void skipNoiseTime(double)"},
        {"method void randomFillMagScatter()", "method void testAction()",
            "property QtDataVisualization::QScatterDataProxy* magScatterDataProxy",
            "signal void magScatterDataProxyChanged()", "signal void resetDefaultsErrorChanged()",
            "signal void sdmChanged()"}};
    QTest::newRow("connection") << Pair {&FakeConnection::staticMetaObject,
        &ConnectionController::staticMetaObject,
        {"method QStringList usedPaths()", "method int cancelCalls()", "method void reset()",
            "method void setConnectOnStart(bool)", "method void setPortDetails(QStringList)"},
        {}};
    QTest::newRow("recording") << Pair {&FakeRecording::staticMetaObject,
        &RecordingController::staticMetaObject,
        {"method int toggles()", "method void reset()", "method void setError(QString)",
            "method void setStatus(qlonglong,qlonglong,qlonglong,bool)"},
        {"signal void locationChanged()", "signal void waitingForDataChanged()"}};
    QTest::newRow("calibration guide")
        << Pair {&FakeCalibrationGuide::staticMetaObject, &CalibrationGuide::staticMetaObject,
               {"method void setPdfAnswer(QString,QString)", "property QStringList printed"},
               {"method void refreshMag()", "signal void reportSaved(QString,QString)"}};
    QTest::newRow("module backups") << Pair {&FakeModuleBackups::staticMetaObject,
        &ModuleBackups::staticMetaObject,
        {"method QStringList restored()", "method void reset()",
            "method void setBackups(QVariantList)", "method void setDifferences(QVariantList)",
            "method void setRestoreState(bool,QString)", "method void setLastError(QString)"},
        {}};
    QTest::newRow("module files") << Pair {&FakeModuleFiles::staticMetaObject,
        &ModuleFiles::staticMetaObject,
        {"method QStringList calls()", "method QVariantList lastArguments()", "method void reset()",
            "method void setFiles(QStringList)", "method void setRows(QString,QVariantList)",
            "method void setStatus(QString,bool,bool)"},
        {"signal void exported(QString)"}};
}

void QmlFakesTest::standInMatchesItsClass()
{
    QFETCH(Pair, pair);
    const QSet<QString> fake = surfaceOf(*pair.fake);
    const QSet<QString> real = surfaceOf(*pair.real);
    QSet<QString> levers;
    for (const QString &lever : pair.testLevers)
        levers.insert(lever);
    QSet<QString> leftOut;
    for (const QString &member : pair.notFaked)
        leftOut.insert(member);

    QVERIFY2(documents().size() > 10, "the interface documents were not found");
    for (const QString &member : pair.notFaked) {
        // A page reaches a member through its object, or handles a signal by "on<Name>".
        const QString name = memberName(member);
        const QString handler = QStringLiteral("on") + name.left(1).toUpper() + name.mid(1);
        const QRegularExpression use(QStringLiteral("\\.%1\\b|\\b%2\\b").arg(name, handler));
        for (const QString &text : documents())
            QVERIFY2(!text.contains(use),
                qPrintable(QStringLiteral("%1 is left out of %2 but a page uses it")
                               .arg(member, QString::fromLatin1(pair.fake->className()))));
    }

    const QStringList missing = (real - fake - leftOut).values();
    const QStringList extra = (fake - real - levers).values();
    const QStringList staleLevers = ((levers - fake) + (leftOut - real)).values();
    QVERIFY2(missing.isEmpty() && extra.isEmpty() && staleLevers.isEmpty(),
        qPrintable(
            QStringLiteral("%1 drifted from %2\n  missing:\n    %3\n  not in the class:\n    %4\n"
                           "  levers or left-out members gone:\n    %5")
                .arg(QString::fromLatin1(pair.fake->className()),
                    QString::fromLatin1(pair.real->className()), listed(missing), listed(extra),
                    listed(staleLevers))));
}

// The comparison itself must see a renamed property, a changed type and a
// missing signal: compare two stand-ins that differ in exactly those ways.
class Shape : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int count MEMBER m_count NOTIFY changed)
    Q_PROPERTY(QString text MEMBER m_text NOTIFY changed)
public:
    Q_INVOKABLE bool act(int) { return true; }
signals:
    void changed();
    void done(bool ok);

private:
    int m_count = 0;
    QString m_text;
};

class DriftedShape : public QObject
{
    Q_OBJECT
    Q_PROPERTY(double count MEMBER m_count NOTIFY changed)
    Q_PROPERTY(QString label MEMBER m_text NOTIFY changed)
public:
    Q_INVOKABLE bool act(int) { return true; }
signals:
    void changed();

private:
    double m_count = 0;
    QString m_text;
};

void QmlFakesTest::driftIsFound()
{
    const QSet<QString> real = surfaceOf(Shape::staticMetaObject);
    const QSet<QString> fake = surfaceOf(DriftedShape::staticMetaObject);
    QCOMPARE(real - fake,
        (QSet<QString> {QStringLiteral("property int count"),
            QStringLiteral("property QString text"), QStringLiteral("signal void done(bool)")}));
    QCOMPARE(fake - real,
        (QSet<QString> {
            QStringLiteral("property double count"), QStringLiteral("property QString label")}));
    QVERIFY(real.contains(QStringLiteral("method bool act(int)")));
}

QTEST_GUILESS_MAIN(QmlFakesTest)
#include "tst_qmlfakes.moc"
