// SPDX-License-Identifier: GPL-3.0-or-later
#include "calibrationreport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

// A calibration report as a page and as a PDF: what a person reads must hold
// the same figures as the file, with headings, units and the module named as
// everywhere else; the PDF is written like every other file.
class CalibrationReportTest : public QObject
{
    Q_OBJECT

private slots:
    void pageHoldsTheRunInTablesWithUnits();
    void unknownsAndMarkupAreShownAsSuch_data();
    void unknownsAndMarkupAreShownAsSuch();
    void pdfIsWrittenWholeAndReplacesAnOlderOne();
    void pdfIsRefusedWhereNoFileCanStand();
};

namespace {

CalibrationReport accReport()
{
    CalibrationReport r;
    r.sensor = QStringLiteral("accelerometer");
    r.at = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7));
    r.identityKnown = true;
    r.deviceId = 0x42;
    r.hardwareVersion = 1442;
    r.softwareVersion = 7;
    r.temperatureKnown = true;
    r.temperatureC = 24.46;
    r.beforeKnown = true;
    r.before = {0.5f, -0.25f, 0.125f, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    r.after = {0.0625f, 0.03125f, -0.75f, 1.01f, 0, 0, 0, 0.99f, 0, 0, 0, 1.02f};
    r.quality = 86.6;
    r.basis = QStringLiteral("Lower of the two");
    for (const char *pose : {"Z-Up", "Z-Down"}) {
        QJsonObject o;
        o[QStringLiteral("pose")] = QLatin1String(pose);
        o[QStringLiteral("tiltDeg")] = 1.25;
        o[QStringLiteral("magnitudeErrorMs2")] = -0.0375;
        r.residuals.append(o);
    }
    r.outcome = QStringLiteral("written");
    return r;
}

// What a reader sees of the page, as Qt lays it out.
QString shown(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}

} // namespace

void CalibrationReportTest::pageHoldsTheRunInTablesWithUnits()
{
    const CalibrationReport r = accReport();
    const QString html = r.toHtml({QStringLiteral("Report saved as /tmp/x.json")});
    QVERIFY(html.contains(QStringLiteral("<h2>Accelerometer calibration</h2>")));
    // Summary (5), parameters (heading + 12) and poses (heading + 2).
    QCOMPARE(html.count(QStringLiteral("<table")), 3);
    QCOMPARE(html.count(QStringLiteral("<tr>")), 5 + 13 + 3);
    const QString text = shown(html);
    // The module as the status strip writes it.
    QVERIFY2(text.contains(QStringLiteral("ID 0x42 · HW 1442 · SW 7")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("2026-03-04 05:06:07")));
    QVERIFY(text.contains(QStringLiteral("24.5 °C")));
    QVERIFY(text.contains(QStringLiteral("87/100")));
    QVERIFY(text.contains(QStringLiteral("Offset X (m/s²)")));
    QVERIFY(text.contains(QStringLiteral("Matrix row 3, column 3")));
    QVERIFY(text.contains(QStringLiteral("Tilt (°)")));
    QVERIFY(text.contains(QStringLiteral("Magnitude error (m/s²)")));
    QVERIFY(text.contains(QStringLiteral("-0.0375")));
    QVERIFY(text.contains(QStringLiteral("Z-Down")));
    QVERIFY(text.contains(QStringLiteral("Report saved as /tmp/x.json")));
    // Before and after side by side, on the offset's row.
    const QStringList lines = text.split(QLatin1Char('\n'));
    const int offsetRow = lines.indexOf(QStringLiteral("Offset Y (m/s²)"));
    QVERIFY(offsetRow > 0);
    QCOMPARE(lines.value(offsetRow + 1), QStringLiteral("-0.25"));
    QCOMPARE(lines.value(offsetRow + 2), QStringLiteral("0.03125"));
    // The plain text keeps its own form.
    QVERIFY(
        r.toText().startsWith(QStringLiteral("accelerometer calibration, 2026-03-04 05:06:07")));
}

void CalibrationReportTest::unknownsAndMarkupAreShownAsSuch_data()
{
    QTest::addColumn<QString>("sensor");
    QTest::addColumn<QString>("offsetHeading");
    QTest::addColumn<int>("parameterRows");
    QTest::newRow("gyroscope") << "gyroscope"
                               << "Offset Z (°/s)" << 3;
    QTest::newRow("magnetometer") << "magnetometer"
                                  << "Offset Z (full-scale unit)" << 12;
}

void CalibrationReportTest::unknownsAndMarkupAreShownAsSuch()
{
    QFETCH(QString, sensor);
    QFETCH(QString, offsetHeading);
    QFETCH(int, parameterRows);
    CalibrationReport r;
    r.sensor = sensor;
    r.at = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
    r.after.assign(std::size_t(parameterRows), 2.5f);
    r.basis = QStringLiteral("a < b & <b>c</b>");
    QJsonObject o;
    o[QStringLiteral("moved")] = true;
    o[QStringLiteral("reason")] = QJsonValue(QJsonValue::Null);
    o[QStringLiteral("extraFigure")] = 3;
    r.residuals.append(o);
    r.outcome = QStringLiteral("Calibration refused: <none>");
    const QString html = r.toHtml();
    const QString text = shown(html);
    QVERIFY(text.contains(QStringLiteral("Module\nnot identified")));
    QVERIFY(text.contains(QStringLiteral("Temperature\nunknown")));
    QVERIFY(text.contains(offsetHeading));
    // Every "before" cell says so, not a zero.
    QCOMPARE(text.count(QStringLiteral("\nunknown\n2.5")), parameterRows);
    // Markup in the texts is shown, not obeyed.
    QVERIFY(text.contains(QStringLiteral("a < b & <b>c</b>")));
    QVERIFY(text.contains(QStringLiteral("Calibration refused: <none>")));
    QVERIFY(!html.contains(QStringLiteral("<none>")));
    // Known columns first, with their names; an unknown one under its key.
    QVERIFY(text.contains(QStringLiteral("Not valid because\nTurned\nextraFigure\n–\nyes\n3")));
    QVERIFY(!text.contains(QStringLiteral("Files")));
}

void CalibrationReportTest::pdfIsWrittenWholeAndReplacesAnOlderOne()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("older");
    }
    const QString html = accReport().toHtml();
    QCOMPARE(CalibrationReport::savePdf(html, path), QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray pdf = file.readAll();
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QVERIFY(pdf.contains("/Type /Page"));
    QVERIFY(pdf.size() > 2000);
    // Nothing of the save is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList {QStringLiteral("report.pdf")});
}

void CalibrationReportTest::pdfIsRefusedWhereNoFileCanStand()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString html = accReport().toHtml();
    // A folder where the file should be, and a file where its folder should be.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken.pdf")));
    const QString folderTarget = dir.filePath(QStringLiteral("taken.pdf"));
    QString why = CalibrationReport::savePdf(html, folderTarget);
    QVERIFY2(why.contains(folderTarget), qPrintable(why));
    QVERIFY(QFileInfo(folderTarget).isDir());

    {
        QFile blocker(dir.filePath(QStringLiteral("plain")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    const QString under = dir.filePath(QStringLiteral("plain/report.pdf"));
    why = CalibrationReport::savePdf(html, under);
    QVERIFY2(!why.isEmpty(), "a file under a file cannot be saved");
    QVERIFY(!QFileInfo::exists(under));
}

QTEST_MAIN(CalibrationReportTest)
#include "tst_calibrationreport.moc"
