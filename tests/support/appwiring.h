// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "customPlotItem.h"
#include "durUzaBackend.h"
#include "registryitemmodel.h"

#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QString>
#include <QUrl>
#include <QtQml>

// The application's start-up wiring as main() does it, for the tests and benchmarks
// that bring up the whole interface: the QML types, the backend published as
// backEnd, and the main document. `PlotItem` stands in for the chart item, e.g. one
// that counts its paints.
template <typename PlotItem = CustomPlotItem>
void loadMainDocument(QQmlApplicationEngine &engine, DurUzaBackend &backend)
{
    qmlRegisterType<RegistryItemModel>("com.duruza.registryModel", 1, 0, "RegisterModel");
    qmlRegisterType<PlotItem>("CustomPlot", 1, 0, "CustomPlotItem");
    engine.rootContext()->setContextProperty(QStringLiteral("backEnd"), &backend);
    engine.load(QUrl(QStringLiteral("qrc:/main.qml")));
}
