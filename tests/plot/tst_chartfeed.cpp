// SPDX-License-Identifier: GPL-3.0-or-later
// Every sample the link cuts becomes a point of its chart, however many arrive
// between two dispatch passes; what cannot is counted and said on the chart.
#include "backendtestsupport.h"
#include "plot.h"
#include "storedframes.h"

#include <QtTest>

#include <qcustomplot.h>

#include <memory>

using namespace backendtest;

class TestChartFeed : public QObject
{
    Q_OBJECT

private:
    static std::unique_ptr<CustomPlotItem> chartOn(DurUzaBackend &backend, const char *property)
    {
        auto item = std::make_unique<CustomPlotItem>();
        item->setWidth(300);
        item->setHeight(200);
        item->setSignalNames({QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Z")});
        item->setSource(&backend);
        item->setSourceProperty(QString::fromLatin1(property));
        return item;
    }

    static QVector<double> valuesOf(const CustomPlotItem &item, int curve)
    {
        QVector<double> values;
        const auto data = item.customPlot()->graph(curve)->data();
        for (auto it = data->constBegin(); it != data->constEnd(); ++it)
            values << it->value;
        return values;
    }

private slots:
    // A burst the link cuts in one pass (a loaded GUI thread, or bytes that
    // arrived together) is handed to the backend frame by frame: N samples,
    // N points, in the order sent, and N rows in the chart's export.
    void burstBetweenTwoTicksGivesOnePointPerSample_data()
    {
        QTest::addColumn<int>("samples");
        QTest::addColumn<bool>("wholeStreamedBlock");
        QTest::newRow("2 accelerometer frames") << 2 << false;
        QTest::newRow("7 accelerometer frames") << 7 << false;
        QTest::newRow("300 accelerometer frames") << 300 << false;
        QTest::newRow("50 streamed blocks") << 50 << true;
    }

    void burstBetweenTwoTicksGivesOnePointPerSample()
    {
        QFETCH(int, samples);
        QFETCH(bool, wholeStreamedBlock);
        DurUzaBackend backend;
        setRange(backend, 1442, 0x00); // accelerometer +/-20, magnetometer 2
        auto acc = chartOn(backend, "accDataList");
        auto mag = chartOn(backend, "magDataList");

        QByteArray burst;
        for (int i = 0; i < samples; ++i) {
            if (wholeStreamedBlock) {
                // 0x06..0x27: accelerometer, gyroscope, magnetometer, temperature,
                // quaternion and Euler angles, as mode 11 streams them.
                QByteArray block(34, '\0');
                block.replace(0, 6, le16s({16 * i, 0, 0}));
                block.replace(12, 6, le16s({0, 0, -16 * i}));
                burst += dataFrame(RegisterMap::Acc.address, block);
            } else {
                burst += dataFrame(RegisterMap::Acc.address, le16s({16 * i, 0, 0}));
            }
        }
        feed(backend, burst); // one cutting pass, one dispatch pass

        const QVector<double> x = valuesOf(*acc, 0);
        QVERIFY2(x.size() == samples,
            qPrintable(QStringLiteral("%1 samples sent, %2 points in the chart")
                           .arg(samples)
                           .arg(x.size())));
        for (int i = 0; i < samples; ++i)
            QCOMPARE(x[i], double(float(16 * i) / 32768.0f * 20.0f));
        if (wholeStreamedBlock) {
            const QVector<double> z = valuesOf(*mag, 2);
            QCOMPARE(z.size(), samples);
            QCOMPARE(z.last(), double(float(-16 * (samples - 1)) / 32768.0f * 2.0f));
        }

        // The export holds a row per sample, not one per millisecond.
        QVERIFY(acc->onTick());
        const QList<QByteArray> rows = acc->visibleCsv().trimmed().split('\n');
        QCOMPARE(rows.size() - 1, samples);
        QCOMPARE(backend.comsHandler()->linkCounters().framesNotDispatched, quint64(0));
    }

    // Past what the link keeps between two passes the rest is not lost
    // silently: every frame is either a point or counted.
    void burstBeyondTheBoundIsCountedNotHidden()
    {
        DurUzaBackend backend;
        setRange(backend, 1442, 0x00);
        auto acc = chartOn(backend, "accDataList");
        const int samples = StoredFrames::limit + 10;
        QByteArray burst;
        for (int i = 0; i < samples; ++i)
            burst += dataFrame(RegisterMap::Acc.address, le16s({i, 0, 0}));
        feed(backend, burst);
        const int points = valuesOf(*acc, 0).size();
        const quint64 notShown = backend.comsHandler()->linkCounters().framesNotDispatched;
        QVERIFY2(notShown > 0, "frames past the bound must be counted");
        QCOMPARE(quint64(points) + notShown, quint64(samples));
        QCOMPARE(valuesOf(*acc, 0).last(), double(float(samples - 1) / 32768.0f * 20.0f));
    }

    // The note says so on the chart, and goes when there is nothing to say.
    void noteShowsOnTheChartOnlyWhileSet()
    {
        CustomPlotItem item;
        item.setWidth(300);
        item.setHeight(200);
        item.setSignalNames({QStringLiteral("X")});
        auto noteItem = [&item]() -> QCPItemText * {
            for (int i = 0; i < item.customPlot()->itemCount(); ++i) {
                if (auto *text = qobject_cast<QCPItemText *>(item.customPlot()->item(i)))
                    return text;
            }
            return nullptr;
        };
        QSignalSpy changed(&item, &CustomPlotItem::noteChanged);
        item.setNote(QStringLiteral("12 samples not shown"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(noteItem());
        QCOMPARE(noteItem()->text(), QStringLiteral("12 samples not shown"));
        QVERIFY(noteItem()->visible());
        // A new plot (new curves) keeps the note.
        item.setSignalNames({QStringLiteral("X"), QStringLiteral("Y")});
        QVERIFY(noteItem() && noteItem()->visible());
        item.setNote(QString());
        QVERIFY(!noteItem()->visible());
        QCOMPARE(changed.count(), 2);
    }
};

QTEST_MAIN(TestChartFeed)
#include "tst_chartfeed.moc"
