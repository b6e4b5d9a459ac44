// SPDX-License-Identifier: GPL-3.0-or-later
#include "matrixtoolkit.h"

#include "calibrationlog.h"

#include <cmath>
#include <limits>

void transposeMatrix(float *dst, const float *src, int rows, int cols)
{
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c)
            dst[c * rows + r] = src[r * cols + c];
    }
}

void multiplyMatrix(float *dst, const float *a, const float *b, int m, int n, int p)
{
    for (int i = 0; i < m; ++i) {
        for (int j = 0; j < p; ++j) {
            float sum = 0.0f;
            for (int k = 0; k < n; ++k)
                sum += a[i * n + k] * b[k * p + j];
            dst[i * p + j] = sum;
        }
    }
}

void invertMatrix(float *dst, const float *src, int n)
{
    constexpr int maxOrder = 9;
    constexpr int width = 2 * maxOrder;
    if (n < 1 || n > maxOrder) {
        qCWarning(lcCalibration) << "invertMatrix: order" << n << "outside 1..9";
        for (int i = 0; i < n * n; ++i)
            dst[i] = std::numeric_limits<float>::quiet_NaN();
        return;
    }

    // Augmented [src | identity] in a fixed work area of 9 rows of 18 floats.
    float work[maxOrder][width];
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            work[i][j] = src[i * n + j];
            work[i][n + j] = (i == j) ? 1.0f : 0.0f;
        }
    }

    // No row exchange: the estimates this serves produce normal matrices with a
    // dominant diagonal, and a reproducible operation order matters more here.
    for (int k = 0; k < n; ++k) {
        const float pivot = work[k][k];
        for (int j = 0; j < 2 * n; ++j)
            work[k][j] /= pivot;
        for (int i = 0; i < n; ++i) {
            if (i == k)
                continue;
            const float v = work[i][k];
            for (int j = 0; j < 2 * n; ++j)
                work[i][j] -= v * work[k][j];
        }
    }

    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j)
            dst[i * n + j] = work[i][n + j];
    }
}

void invertMatrix3(float *dst, const float *s)
{
    const float c00 = s[4] * s[8] - s[5] * s[7];
    const float c01 = s[5] * s[6] - s[3] * s[8];
    const float c02 = s[3] * s[7] - s[4] * s[6];
    const float c10 = s[2] * s[7] - s[1] * s[8];
    const float c11 = s[0] * s[8] - s[2] * s[6];
    const float c12 = s[1] * s[6] - s[0] * s[7];
    const float c20 = s[1] * s[5] - s[2] * s[4];
    const float c21 = s[2] * s[3] - s[0] * s[5];
    const float c22 = s[0] * s[4] - s[1] * s[3];
    const float det = s[0] * c00 + s[1] * c01 + s[2] * c02;

    // Adjugate = transposed cofactor matrix.
    dst[0] = c00 / det;
    dst[1] = c10 / det;
    dst[2] = c20 / det;
    dst[3] = c01 / det;
    dst[4] = c11 / det;
    dst[5] = c21 / det;
    dst[6] = c02 / det;
    dst[7] = c12 / det;
    dst[8] = c22 / det;
}

void eigenSymmetric3(const float *s, float *eigenvalues, float *eigenvectors)
{
    const float q = (s[0] + s[4] + s[8]) / 3.0f;
    const float d0 = s[0] - q;
    const float d1 = s[4] - q;
    const float d2 = s[8] - q;
    const float p = std::sqrt(
        (d0 * d0 + d1 * d1 + d2 * d2 + 2.0f * (s[1] * s[1] + s[2] * s[2] + s[5] * s[5])) / 6.0f);

    float b[9];
    for (int i = 0; i < 9; ++i)
        b[i] = s[i] / p;
    b[0] = d0 / p;
    b[4] = d1 / p;
    b[8] = d2 / p;
    const float detB = b[0] * (b[4] * b[8] - b[7] * b[5]) + b[1] * (b[6] * b[5] - b[8] * b[3])
        + b[2] * (b[7] * b[3] - b[4] * b[6]);
    const float r = detB / 2.0f;

    float phi;
    if (r <= -1.0f)
        phi = 1.0471976f; // pi / 3
    else if (r >= 1.0f)
        phi = 0.0f;
    else
        phi = std::acos(r) / 3.0f;

    const float twoP = 2.0f * p;
    const float l0 = q + twoP * std::cos(phi);
    const float l2 = q + twoP * std::cos(phi + 2.0943952f); // + 2 pi / 3
    const float l1 = 3.0f * q - l0 - l2;
    eigenvalues[0] = l0;
    eigenvalues[1] = l1;
    eigenvalues[2] = l2;

    for (int i = 0; i < 3; ++i) {
        const float a = s[0] - eigenvalues[i];
        const float bb = s[4] - eigenvalues[i];
        const float u = s[2] * bb - s[1] * s[5];
        float vx, vy, vz;
        if (u != 0.0f) { // also taken when u is NaN
            vx = 1.0f;
            vz = (s[1] * s[3] - a * bb) / u;
            vy = -(vz * s[2] + a) / s[1];
        } else {
            vy = 1.0f;
            vz = (a * bb - s[1] * s[3]) / (s[2] * s[3] - a * s[5]);
            vx = -(vz * s[2] + s[1]) / a;
        }
        eigenvectors[3 * i] = vx;
        eigenvectors[3 * i + 1] = vy;
        eigenvectors[3 * i + 2] = vz;
    }
}

void normalizeVector3(float *dst, float *norm, const float *src)
{
    const float n = std::sqrt(src[0] * src[0] + src[1] * src[1] + src[2] * src[2]);
    dst[0] = src[0] / n;
    dst[1] = src[1] / n;
    dst[2] = src[2] / n;
    *norm = n;
}
