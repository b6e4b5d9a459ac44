// SPDX-License-Identifier: GPL-3.0-or-later
#include "plot.h"
#include "renderMode.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using rendermode::Choice;

class TestRenderMode : public QObject
{
    Q_OBJECT

private slots:
    void rendererStrings_data()
    {
        QTest::addColumn<QString>("renderer");
        QTest::addColumn<bool>("software");
        QTest::newRow("Mesa llvmpipe") << "llvmpipe (LLVM 15.0.6, 256 bits)" << true;
        QTest::newRow("Mesa softpipe") << "Gallium 0.4 on softpipe" << true;
        QTest::newRow("Mesa swrast") << "Software Rasterizer" << true;
        QTest::newRow("swrast by name") << "Mesa swrast" << true;
        QTest::newRow("Windows WARP") << "D3D12 (Microsoft Basic Render Driver)" << true;
        QTest::newRow("Windows fallback") << "GDI Generic" << true;
        QTest::newRow("SwiftShader") << "Google SwiftShader" << true;
        QTest::newRow("no OpenGL") << "" << true;
        QTest::newRow("blank") << "  " << true;
        // Hardware, among them strings that mention LLVM or Mesa.
        QTest::newRow("Radeon through Mesa")
            << "AMD Radeon RX 580 Series (polaris10, LLVM 15.0.6, DRM 3.49, 6.1.0)" << false;
        QTest::newRow("Intel through Mesa") << "Mesa Intel(R) UHD Graphics 620 (KBL GT2)" << false;
        QTest::newRow("NVIDIA") << "NVIDIA GeForce GTX 1080/PCIe/SSE2" << false;
        QTest::newRow("VMware SVGA") << "SVGA3D; build: RELEASE;  LLVM;" << false;
        QTest::newRow("virgl") << "virgl (AMD Radeon RX 580)" << false;
        QTest::newRow("Apple") << "Apple M1" << false;
    }

    void rendererStrings()
    {
        QFETCH(QString, renderer);
        QFETCH(bool, software);
        QCOMPARE(rendermode::isSoftwareRenderer(renderer), software);
    }

    void optionBeatsSettingBeatsRenderer()
    {
        const QString llvmpipe = QStringLiteral("llvmpipe (LLVM 15.0.6, 256 bits)");
        const QString radeon = QStringLiteral("AMD Radeon RX 580 Series (polaris10)");
        // Nothing forced: the renderer decides.
        QCOMPARE(rendermode::decide(Choice::Auto, Choice::Auto, llvmpipe).software, true);
        QCOMPARE(rendermode::decide(Choice::Auto, Choice::Auto, radeon).software, false);
        // The setting forces either way.
        QCOMPARE(rendermode::decide(Choice::Auto, Choice::Full, llvmpipe).software, false);
        QCOMPARE(rendermode::decide(Choice::Auto, Choice::Software, radeon).software, true);
        // The option beats the setting.
        QCOMPARE(rendermode::decide(Choice::Full, Choice::Software, llvmpipe).software, false);
        QCOMPARE(rendermode::decide(Choice::Software, Choice::Full, radeon).software, true);
        // The log line says who decided.
        QVERIFY(rendermode::decide(Choice::Full, Choice::Software, llvmpipe)
                    .reason.contains("command line"));
        QVERIFY(
            rendermode::decide(Choice::Auto, Choice::Software, radeon).reason.contains("setting"));
        QVERIFY(
            rendermode::decide(Choice::Auto, Choice::Auto, llvmpipe).reason.contains("llvmpipe"));
    }

    void optionFromArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("choice");
        const int autoChoice = int(Choice::Auto), software = int(Choice::Software),
                  full = int(Choice::Full);
        QTest::newRow("absent") << QStringList {"velmar-imu", "-platform", "xcb"} << true
                                << autoChoice;
        QTest::newRow("separate value")
            << QStringList {"velmar-imu", "--render-mode", "software"} << true << software;
        QTest::newRow("joined value")
            << QStringList {"velmar-imu", "--render-mode=full"} << true << full;
        QTest::newRow("any case") << QStringList {"velmar-imu", "--render-mode", "Software"} << true
                                  << software;
        QTest::newRow("auto") << QStringList {"velmar-imu", "--render-mode=auto"} << true
                              << autoChoice;
        QTest::newRow("last one counts")
            << QStringList {"velmar-imu", "--render-mode=full", "--render-mode", "software"} << true
            << software;
        QTest::newRow("program name is not an option")
            << QStringList {"--render-mode"} << true << autoChoice;
        QTest::newRow("missing value")
            << QStringList {"velmar-imu", "--render-mode"} << false << autoChoice;
        QTest::newRow("unknown value")
            << QStringList {"velmar-imu", "--render-mode", "fast"} << false << autoChoice;
        QTest::newRow("empty joined value")
            << QStringList {"velmar-imu", "--render-mode="} << false << autoChoice;
        QTest::newRow("other option with the same start")
            << QStringList {"velmar-imu", "--render-modes", "full"} << true << autoChoice;
    }

    void optionFromArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, ok);
        QFETCH(int, choice);
        Choice found = Choice::Full;
        QString error;
        QCOMPARE(rendermode::optionFromArguments(arguments, &found, &error), ok);
        if (ok) {
            QCOMPARE(int(found), choice);
            QVERIFY(error.isEmpty());
        } else {
            QVERIFY(error.contains(QLatin1String("--render-mode")));
        }
    }

    void settingForcesAModeOrIsIgnored()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("velmar.ini")), QSettings::IniFormat);
        QCOMPARE(rendermode::settingFrom(settings), Choice::Auto);
        settings.setValue(rendermode::settingKey(), QStringLiteral("software"));
        QCOMPARE(rendermode::settingFrom(settings), Choice::Software);
        settings.setValue(rendermode::settingKey(), QStringLiteral(" FULL "));
        QCOMPARE(rendermode::settingFrom(settings), Choice::Full);
        settings.setValue(rendermode::settingKey(), QStringLiteral("turbo"));
        QCOMPARE(rendermode::settingFrom(settings), Choice::Auto);
    }
};

QTEST_GUILESS_MAIN(TestRenderMode)
#include "tst_renderMode.moc"
