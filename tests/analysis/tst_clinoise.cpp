// SPDX-License-Identifier: GPL-3.0-or-later
#include "record.h"
#include "stochasticsensor.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

struct Run
{
    int status = -1;
    QByteArray out, err;
};

Run cli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VELMAR_CLI_EXE), arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A resting module's measurement CSV as the tool writes it; `turnAt` >= 0
// adds a 2 s turn about z there.
bool writeRest(const QString &path, double seconds, double turnAt = -1)
{
    StochasticParameters p = StochasticParameters::consumerMems();
    p.gyroLsb = 250.0 / 32768;
    p.accLsb = 20.0 / 32768;
    StochasticSensor sensor(p, 21);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    CsvWriter writer(&file);
    if (!writer.writeHeader())
        return false;
    const double rate = 100;
    for (long i = 0; i < long(seconds * rate); ++i) {
        const std::array<double, 6> e = sensor.step(1 / rate);
        MeasurementFrame f;
        f.timeUs = qint64(i) * 10000;
        f.present = MeasurementFrame::Acc | MeasurementFrame::Gyro | MeasurementFrame::Temperature;
        const double t = double(i) / rate;
        const double turn = turnAt >= 0 && t >= turnAt && t < turnAt + 2 ? 45 : 0;
        for (int k = 0; k < 3; ++k) {
            f.gyro[std::size_t(k)] = float(
                StochasticSensor::quantise(e[std::size_t(k)] + (k == 2 ? turn : 0), p.gyroLsb));
            f.acc[std::size_t(k)] = float(
                StochasticSensor::quantise(e[std::size_t(k + 3)] + (k == 2 ? 9.79 : 0), p.accLsb));
        }
        f.temperature = 25;
        if (!writer.writeFrame(f))
            return false;
    }
    return file.flush();
}

} // namespace

class TestCliNoise : public QObject
{
    Q_OBJECT

private slots:
    void jsonHasEveryChannelWithTermsOrReasons();
    void yamlHoldsTheSiNoiseDensities();
    void motionIsRefusedWithExitStatusFive();
    void fileThatIsNoRecordingIsRefused();

private:
    QTemporaryDir m_dir;
};

void TestCliNoise::jsonHasEveryChannelWithTermsOrReasons()
{
    const QString csv = m_dir.filePath(QStringLiteral("rest.csv"));
    QVERIFY(writeRest(csv, 120));
    const Run run = cli({QStringLiteral("noise"), csv, QStringLiteral("--json")});
    QVERIFY2(run.status == 0, run.err.constData());
    const QJsonObject doc = QJsonDocument::fromJson(run.out).object();
    QVERIFY2(std::fabs(doc.value(QStringLiteral("duration_s")).toDouble() - 120) < 0.1,
        run.out.constData());
    QVERIFY2(std::fabs(doc.value(QStringLiteral("rate_hz")).toDouble() - 100) < 0.1,
        run.out.constData());
    const QJsonArray channels = doc.value(QStringLiteral("channels")).toArray();
    QCOMPARE(channels.size(), 6);
    const QStringList names
        = {QStringLiteral("gyro_x"), QStringLiteral("gyro_y"), QStringLiteral("gyro_z"),
            QStringLiteral("acc_x"), QStringLiteral("acc_y"), QStringLiteral("acc_z")};
    const StochasticParameters p = StochasticParameters::consumerMems();
    for (int i = 0; i < 6; ++i) {
        const QJsonObject c = channels[i].toObject();
        QCOMPARE(c.value(QStringLiteral("name")).toString(), names[i]);
        QCOMPARE(c.value(QStringLiteral("unit")).toString(),
            i < 3 ? QStringLiteral("deg/s") : QStringLiteral("m/s^2"));
        const QJsonObject n = c.value(QStringLiteral("N")).toObject();
        const double truth
            = i < 3 ? p.gyro[std::size_t(i)].whiteDensity : p.acc[std::size_t(i - 3)].whiteDensity;
        QVERIFY2(std::fabs(n.value(QStringLiteral("value")).toDouble() / truth - 1) < 0.05,
            qPrintable(QStringLiteral("%1: N %2, truth %3")
                           .arg(names[i])
                           .arg(n.value(QStringLiteral("value")).toDouble())
                           .arg(truth)));
        QVERIFY(n.value(QStringLiteral("low")).toDouble()
            < n.value(QStringLiteral("value")).toDouble());
        QVERIFY(n.value(QStringLiteral("high")).toDouble()
            > n.value(QStringLiteral("value")).toDouble());
        // Two minutes cannot show the random walk: null, with the reason.
        QVERIFY2(c.value(QStringLiteral("K")).isNull(), qPrintable(names[i]));
        QVERIFY2(c.value(QStringLiteral("reasons"))
                     .toObject()
                     .value(QStringLiteral("K"))
                     .toString()
                     .contains(QLatin1String("recording of about")),
            qPrintable(names[i]));
        const QJsonArray adev = c.value(QStringLiteral("adev")).toArray();
        QVERIFY(adev.size() >= 10);
        for (const QJsonValue &point : adev) {
            const QJsonArray a = point.toArray();
            QCOMPARE(a.size(), 4);
            QVERIFY(a[2].toDouble() <= a[1].toDouble() && a[1].toDouble() <= a[3].toDouble());
        }
    }
}

void TestCliNoise::yamlHoldsTheSiNoiseDensities()
{
    const QString csv = m_dir.filePath(QStringLiteral("rest.csv"));
    QVERIFY(writeRest(csv, 60));
    const QString yaml = m_dir.filePath(QStringLiteral("imu.yaml"));
    const Run run = cli(
        {QStringLiteral("noise"), csv, QStringLiteral("--json"), QStringLiteral("--yaml"), yaml});
    QVERIFY2(run.status == 0, run.err.constData());
    double gyroN = 0, accN = 0;
    for (const QJsonValue &v :
        QJsonDocument::fromJson(run.out).object().value(QStringLiteral("channels")).toArray()) {
        const QJsonObject c = v.toObject();
        double &n = c.value(QStringLiteral("name")).toString().startsWith(QLatin1String("gyro"))
            ? gyroN
            : accN;
        n = std::max(
            n, c.value(QStringLiteral("N")).toObject().value(QStringLiteral("value")).toDouble());
    }
    QFile file(yaml);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QMap<QString, double> keys;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const int colon = line.indexOf(':');
        if (line.startsWith('#') || colon < 0)
            continue;
        keys.insert(QString::fromUtf8(line.left(colon)),
            line.mid(colon + 1).split('#').first().trimmed().toDouble());
    }
    for (const char *key : {"update_rate", "accelerometer_noise_density",
             "accelerometer_random_walk", "gyroscope_noise_density", "gyroscope_random_walk"})
        QVERIFY2(keys.contains(QLatin1String(key)), key);
    QVERIFY(std::fabs(keys.value(QStringLiteral("update_rate")) - 100) < 0.1);
    QVERIFY(std::fabs(keys.value(QStringLiteral("gyroscope_noise_density"))
                    / (gyroN * 3.14159265358979 / 180)
                - 1)
        < 1e-4);
    QVERIFY(std::fabs(keys.value(QStringLiteral("accelerometer_noise_density")) / accN - 1) < 1e-4);
}

void TestCliNoise::motionIsRefusedWithExitStatusFive()
{
    const QString csv = m_dir.filePath(QStringLiteral("moved.csv"));
    QVERIFY(writeRest(csv, 60, 30));
    const QString yaml = m_dir.filePath(QStringLiteral("moved.yaml"));
    const Run run = cli({QStringLiteral("noise"), csv, QStringLiteral("--yaml"), yaml});
    QCOMPARE(run.status, 5);
    QVERIFY2(run.err.contains("moved at 30.0-32.0 s"), run.err.constData());
    QVERIFY2(!QFile::exists(yaml), "nothing is written for a refused recording");
}

void TestCliNoise::fileThatIsNoRecordingIsRefused()
{
    const QString path = m_dir.filePath(QStringLiteral("notes.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("hello\n");
    file.close();
    const Run run = cli({QStringLiteral("noise"), path});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.startsWith("velmar-cli: " + path.toUtf8()), run.err.constData());
}

QTEST_GUILESS_MAIN(TestCliNoise)
#include "tst_clinoise.moc"
