// SPDX-License-Identifier: GPL-3.0-or-later
#include "matrixtoolkit.h"

#include <QtTest>

#include <cmath>

namespace {

bool allNonFinite(const float *v, int count)
{
    for (int i = 0; i < count; ++i) {
        if (std::isfinite(v[i]))
            return false;
    }
    return true;
}

bool anyNonFinite(const float *v, int count)
{
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(v[i]))
            return true;
    }
    return false;
}

} // namespace

class TestMatrixToolkit : public QObject
{
    Q_OBJECT

private slots:
    void transposeSwapsRowsAndColumnsOfNonSquareMatrix()
    {
        const float src[6] = {1, 2, 3, 4, 5, 6}; // 2 x 3
        float dst[6] = {};
        transposeMatrix(dst, src, 2, 3);
        const float expected[6] = {1, 4, 2, 5, 3, 6}; // 3 x 2
        for (int i = 0; i < 6; ++i)
            QCOMPARE(dst[i], expected[i]);
    }

    void multiplyOfNonSquareMatricesHasOuterDimensions()
    {
        const float a[6] = {1, 2, 3, 4, 5, 6}; // 2 x 3
        const float b[6] = {7, 8, 9, 10, 11, 12}; // 3 x 2
        float dst[4] = {};
        multiplyMatrix(dst, a, b, 2, 3, 2);
        QCOMPARE(dst[0], 58.0f);
        QCOMPARE(dst[1], 64.0f);
        QCOMPARE(dst[2], 139.0f);
        QCOMPARE(dst[3], 154.0f);
    }

    void multiplyAccumulatesInIncreasingIndexOrder()
    {
        // 1e8 + 1 - 1e8 is 0 in float when summed left to right, 1 otherwise.
        const float a[3] = {1e8f, 1.0f, -1e8f};
        const float b[3] = {1.0f, 1.0f, 1.0f};
        float dst = -1.0f;
        multiplyMatrix(&dst, a, b, 1, 3, 1);
        QCOMPARE(dst, 0.0f);
    }

    void invertMatrixInvertsDiagonallyDominantMatrices_data()
    {
        QTest::addColumn<int>("order");
        for (int n = 1; n <= 9; ++n)
            QTest::addRow("order %d", n) << n;
    }

    void invertMatrixInvertsDiagonallyDominantMatrices()
    {
        QFETCH(int, order);
        float a[81];
        for (int i = 0; i < order; ++i)
            for (int j = 0; j < order; ++j)
                a[i * order + j] = (i == j) ? 10.0f + i : 1.0f / float(1 + i + 2 * j);
        float inverse[81];
        invertMatrix(inverse, a, order);
        float product[81];
        multiplyMatrix(product, a, inverse, order, order, order);
        for (int i = 0; i < order; ++i)
            for (int j = 0; j < order; ++j)
                QVERIFY2(std::fabs(product[i * order + j] - (i == j ? 1.0f : 0.0f)) < 1e-6f,
                    qPrintable(QStringLiteral("element %1,%2").arg(i).arg(j)));
    }

    void invertMatrixWithZeroLeadingPivotIsNonFiniteBecauseRowsAreNotExchanged()
    {
        const float swap[4] = {0, 1, 1, 0}; // invertible, its own inverse
        float inverse[4] = {};
        invertMatrix(inverse, swap, 2);
        QVERIFY(anyNonFinite(inverse, 4));
    }

    void invertMatrixOutsideSupportedOrderFillsNaNWithoutOverrun()
    {
        float src[100];
        std::fill(std::begin(src), std::end(src), 1.0f);
        float dst[100] = {};
        invertMatrix(dst, src, 10);
        QVERIFY(allNonFinite(dst, 100));
        float untouched = 5.0f;
        invertMatrix(&untouched, src, 0);
        QCOMPARE(untouched, 5.0f);
    }

    void invertMatrix3MatchesKnownInverse()
    {
        const float a[9] = {1, 2, 3, 0, 1, 4, 5, 6, 0}; // determinant 1
        const float expected[9] = {-24, 18, 5, 20, -15, -4, -5, 4, 1};
        float inverse[9];
        invertMatrix3(inverse, a);
        for (int i = 0; i < 9; ++i)
            QCOMPARE(inverse[i], expected[i]);
    }

    void invertMatrix3OfSingularMatrixIsNonFinite()
    {
        const float singular[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
        float inverse[9];
        invertMatrix3(inverse, singular);
        QVERIFY(anyNonFinite(inverse, 9));
    }

    void eigenSymmetric3OfDiagonalGivesValuesLargestFirst()
    {
        const float s[9] = {3, 0, 0, 0, 2, 0, 0, 0, 1};
        float values[3];
        float vectors[9];
        eigenSymmetric3(s, values, vectors);
        QVERIFY(std::fabs(values[0] - 3.0f) < 1e-6f);
        QVERIFY(std::fabs(values[1] - 2.0f) < 1e-6f);
        QVERIFY(std::fabs(values[2] - 1.0f) < 1e-6f);
        // With no off-diagonal terms the closed form divides by zero.
        QVERIFY(anyNonFinite(vectors, 9));
    }

    void eigenSymmetric3OrderIsIndependentOfDiagonalOrder()
    {
        const float s[9] = {1, 0, 0, 0, 3, 0, 0, 0, 2};
        float values[3];
        float vectors[9];
        eigenSymmetric3(s, values, vectors);
        QVERIFY(std::fabs(values[0] - 3.0f) < 1e-6f);
        QVERIFY(std::fabs(values[1] - 2.0f) < 1e-6f);
        QVERIFY(std::fabs(values[2] - 1.0f) < 1e-6f);
    }

    void eigenSymmetric3RowsAreEigenvectors_data()
    {
        QTest::addColumn<QVector<float>>("matrix");
        QTest::newRow("general") << QVector<float> {4, 1, 2, 1, 3, 0.5f, 2, 0.5f, 5};
        QTest::newRow("negative definite")
            << QVector<float> {-2, 0.3f, -0.4f, 0.3f, -1, 0.2f, -0.4f, 0.2f, -3};
        QTest::newRow("nearly diagonal")
            << QVector<float> {9, 0.01f, 0.02f, 0.01f, 5, 0.03f, 0.02f, 0.03f, 1};
    }

    void eigenSymmetric3RowsAreEigenvectors()
    {
        QFETCH(QVector<float>, matrix);
        const float *s = matrix.constData();
        float values[3];
        float vectors[9];
        eigenSymmetric3(s, values, vectors);
        QVERIFY(values[0] >= values[1] && values[1] >= values[2]);
        QVERIFY(std::fabs((values[0] + values[1] + values[2]) - (s[0] + s[4] + s[8])) < 1e-4f);
        for (int i = 0; i < 3; ++i) {
            float unit[3];
            float norm;
            normalizeVector3(unit, &norm, vectors + 3 * i);
            QVERIFY(std::isfinite(norm) && norm > 0.0f);
            float product[3];
            multiplyMatrix(product, s, unit, 3, 3, 1);
            for (int r = 0; r < 3; ++r)
                QVERIFY2(std::fabs(product[r] - values[i] * unit[r]) < 1e-4f,
                    qPrintable(QStringLiteral("eigenpair %1, row %2").arg(i).arg(r)));
        }
    }

    void normalizeVector3ReturnsUnitVectorAndNorm()
    {
        const float v[3] = {3, 0, -4};
        float unit[3];
        float norm = 0;
        normalizeVector3(unit, &norm, v);
        QCOMPARE(norm, 5.0f);
        QCOMPARE(unit[0], 0.6f);
        QCOMPARE(unit[1], 0.0f);
        QCOMPARE(unit[2], -0.8f);
    }

    void normalizeVector3OfZeroIsNonFinite()
    {
        const float v[3] = {0, 0, 0};
        float unit[3];
        float norm = -1;
        normalizeVector3(unit, &norm, v);
        QCOMPARE(norm, 0.0f);
        QVERIFY(allNonFinite(unit, 3));
    }
};

QTEST_APPLESS_MAIN(TestMatrixToolkit)
#include "tst_matrixtoolkit.moc"
