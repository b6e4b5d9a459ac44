// SPDX-License-Identifier: GPL-3.0-or-later
#include "registerobjects.h"
#include "registryitemmodel.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <memory>

class RegistryItemModelTest : public QObject
{
    Q_OBJECT

private slots:
    void newObjectHoldsIntegerZeroAndIsNotUpdated();
    void defaultConstructedObjectIsNamedNoName();
    void qmlCreatedRegisterModelUsesDefaults();
    void choicesCountFollowsChoiceList_data();
    void choicesCountFollowsChoiceList();
    void setDataMarksUpdatedWithoutFlashing_data();
    void setDataMarksUpdatedWithoutFlashing();
    void propertyWriteGoesThroughSetData();
    void setDataFromModuleSignalsUpdatedThenDataThenModule();
    void equalValueFromModuleSignalsAgain();
    void registerObjectsFollowCatalogueAndBelongToParent();
};

namespace {
// Records the emission order of the three signals a store can raise.
struct SignalLog
{
    QStringList order;
    void attach(RegistryItemModel &item)
    {
        QObject::connect(&item, &RegistryItemModel::updatedChanged,
            [this] { order << QStringLiteral("updated"); });
        QObject::connect(
            &item, &RegistryItemModel::dataChanged, [this] { order << QStringLiteral("data"); });
        QObject::connect(&item, &RegistryItemModel::dataUpdatedFromModule,
            [this] { order << QStringLiteral("module"); });
    }
};
} // namespace

void RegistryItemModelTest::newObjectHoldsIntegerZeroAndIsNotUpdated()
{
    RegistryItemModel item(nullptr, 54, 0, QStringLiteral("Sensors Range"), true,
        QStringLiteral("No Description"), {});
    QCOMPARE(item.data().userType(), int(QMetaType::Int));
    QCOMPARE(item.data().toInt(), 0);
    QVERIFY(!item.updated());
    QCOMPARE(item.choicesCount(), 0);
    QCOMPARE(item.address(), 54);
    QCOMPARE(item.modelDataType(), 0);
    QVERIFY(item.writeAccess());
    QCOMPARE(item.registerName(), QStringLiteral("Sensors Range"));
}

void RegistryItemModelTest::defaultConstructedObjectIsNamedNoName()
{
    RegistryItemModel item;
    QCOMPARE(item.registerName(), QStringLiteral("No Name"));
    QCOMPARE(item.description(), QStringLiteral("No Description"));
    QCOMPARE(item.address(), 0);
    QCOMPARE(item.modelDataType(), 0);
    QVERIFY(!item.writeAccess());
    QVERIFY(item.parent() == nullptr);
    QCOMPARE(item.choicesCount(), 0);
}

void RegistryItemModelTest::qmlCreatedRegisterModelUsesDefaults()
{
    qmlRegisterType<RegistryItemModel>("com.duruza.registryModel", 1, 0, "RegisterModel");
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import QtQml 2.0\nimport com.duruza.registryModel 1.0\n"
                      "RegisterModel { property string shown: registerName + '/' + description }",
        QUrl());
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("shown").toString(), QStringLiteral("No Name/No Description"));
}

void RegistryItemModelTest::choicesCountFollowsChoiceList_data()
{
    QTest::addColumn<QStringList>("choices");
    QTest::newRow("none") << QStringList();
    QTest::newRow("one") << QStringList {"Off"};
    QTest::newRow("three") << QStringList {"2 g", "4 g", "8 g"};
}

void RegistryItemModelTest::choicesCountFollowsChoiceList()
{
    QFETCH(QStringList, choices);
    RegistryItemModel item(nullptr, 0, 0, QStringLiteral("r"), false, QString(), choices);
    QCOMPARE(item.choicesCount(), choices.size());
    QCOMPARE(item.property("choicesCount").toInt(), choices.size());
    QCOMPARE(item.choices(), choices);
}

void RegistryItemModelTest::setDataMarksUpdatedWithoutFlashing_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("integer") << QVariant(7);
    QTest::newRow("real") << QVariant(1.25f);
    QTest::newRow("text, stored unchecked") << QVariant(QStringLiteral("0x1G"));
    QTest::newRow("invalid variant") << QVariant();
}

void RegistryItemModelTest::setDataMarksUpdatedWithoutFlashing()
{
    QFETCH(QVariant, value);
    RegistryItemModel item;
    SignalLog log;
    log.attach(item);
    item.setData(value);
    QVERIFY(item.updated());
    QCOMPARE(item.data(), value);
    QCOMPARE(log.order, QStringList {"updated"});
}

void RegistryItemModelTest::propertyWriteGoesThroughSetData()
{
    // The interface assigns to `data`; that must behave as setData, not as a module value.
    RegistryItemModel item;
    SignalLog log;
    log.attach(item);
    QVERIFY(item.setProperty("data", 42));
    QCOMPARE(item.data().toInt(), 42);
    QCOMPARE(log.order, QStringList {"updated"});
}

void RegistryItemModelTest::setDataFromModuleSignalsUpdatedThenDataThenModule()
{
    RegistryItemModel item;
    SignalLog log;
    log.attach(item);
    item.setDataFromModule(QVariant(2.5f));
    QCOMPARE(log.order, (QStringList {"updated", "data", "module"}));
    QVERIFY(item.updated());
    QCOMPARE(item.data().userType(), int(QMetaType::Float));
    QCOMPARE(item.data().toFloat(), 2.5f);
}

void RegistryItemModelTest::equalValueFromModuleSignalsAgain()
{
    RegistryItemModel item;
    item.setDataFromModule(5);
    SignalLog log;
    log.attach(item);
    item.setDataFromModule(5);
    QCOMPARE(log.order, (QStringList {"updated", "data", "module"}));
}

void RegistryItemModelTest::registerObjectsFollowCatalogueAndBelongToParent()
{
    auto parent = std::make_unique<QObject>();
    const RegisterObjects objects = createRegisterObjects(parent.get());
    QCOMPARE(parent->children().size(), 61);
    QCOMPARE(objects.front()->registerName(), QStringLiteral("Device ID"));
    QCOMPARE(objects.front()->description(), QStringLiteral("ID Code Of Current Device"));
    QCOMPARE(objects.back()->registerName(), QStringLiteral("ACC_MAG_EFF"));
    QCOMPARE(objects.back()->address(), 175);
    QCOMPARE(objects[2]->modelDataType(), 1); // "Hardware Version"
    QCOMPARE(objects[48]->registerName(), QStringLiteral("MAG  Offset X"));
    QCOMPARE(objects[48]->address(), 127);
    for (RegistryItemModel *item : objects) {
        QVERIFY(item->parent() == parent.get());
        QCOMPARE(item->data().toInt(), 0);
        QVERIFY(!item->updated());
        QCOMPARE(item->choicesCount(), 0);
        QCOMPARE(item->writeAccess(), item->address() >= 52);
    }
    QPointer<RegistryItemModel> first = objects.front();
    parent.reset();
    QVERIFY(first.isNull());
}

QTEST_MAIN(RegistryItemModelTest)
#include "tst_registryitemmodel.moc"
