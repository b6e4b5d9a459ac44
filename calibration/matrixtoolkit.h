// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Small dense-matrix toolkit for the calibration estimates. Matrices are flat,
// row-major float arrays; every operation works in single precision in a fixed
// order, so results are reproducible bit for bit. None of them checks for
// singularity: degenerate input yields infinities or NaNs.

// dst (cols x rows) = transpose of src (rows x cols). dst must not alias src.
void transposeMatrix(float *dst, const float *src, int rows, int cols);

// dst (m x p) = a (m x n) * b (n x p), each element summed from 0 in increasing k.
// dst must not alias a or b.
void multiplyMatrix(float *dst, const float *a, const float *b, int m, int n, int p);

// dst = inverse of the n x n src by Gauss-Jordan elimination without row
// exchange, 1 <= n <= 9 (a zero pivot gives non-finite values; an order outside
// that range fills dst with NaN).
void invertMatrix(float *dst, const float *src, int n);

// dst = inverse of the 3 x 3 src by the adjugate; a zero determinant is not tested.
void invertMatrix3(float *dst, const float *src);

// Closed-form eigen-decomposition of a symmetric 3 x 3 matrix. eigenvalues gets
// the three eigenvalues, largest first; eigenvectors gets the matching
// (unnormalised) eigenvectors as ROWS: row i belongs to eigenvalue i.
void eigenSymmetric3(const float *src, float *eigenvalues, float *eigenvectors);

// dst = src / |src| for a 3-vector; *norm = |src|.
void normalizeVector3(float *dst, float *norm, const float *src);
