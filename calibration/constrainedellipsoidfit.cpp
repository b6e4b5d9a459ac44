// SPDX-License-Identifier: GPL-3.0-or-later
#include "constrainedellipsoidfit.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/LevenbergMarquardt>

#include <cmath>

namespace {

using Eigen::Matrix3d;
using Eigen::Vector3d;

// Symmetric square root of a symmetric positive definite matrix.
Matrix3d symmetricRoot(const Matrix3d &a)
{
    const Eigen::SelfAdjointEigenSolver<Matrix3d> eigen(a);
    return eigen.eigenvectors() * eigen.eigenvalues().cwiseSqrt().asDiagonal()
        * eigen.eigenvectors().transpose();
}

// Residuals |L (u - c)| - 1 over the normalised points; parameters c (3) and
// the upper triangle of the symmetric L (l00 l01 l02 l11 l12 l22).
struct SphereDistance : Eigen::DenseFunctor<double>
{
    explicit SphereDistance(const std::vector<Vector3d> &points)
        : Eigen::DenseFunctor<double>(9, int(points.size()))
        , u(points)
    { }

    static Matrix3d shape(const Eigen::VectorXd &x)
    {
        Matrix3d l;
        l << x(3), x(4), x(5), x(4), x(6), x(7), x(5), x(7), x(8);
        return l;
    }

    int operator()(const Eigen::VectorXd &x, Eigen::VectorXd &f) const
    {
        const Matrix3d l = shape(x);
        const Vector3d c = x.head<3>();
        for (std::size_t i = 0; i < u.size(); ++i)
            f(Eigen::Index(i)) = (l * (u[i] - c)).norm() - 1.0;
        return 0;
    }

    int df(const Eigen::VectorXd &x, Eigen::MatrixXd &j) const
    {
        const Matrix3d l = shape(x);
        const Vector3d c = x.head<3>();
        // Which (row, column) of L each of the six parameters sits at.
        static const int row[6] = {0, 0, 0, 1, 1, 2};
        static const int col[6] = {0, 1, 2, 1, 2, 2};
        for (std::size_t i = 0; i < u.size(); ++i) {
            const Vector3d d = u[i] - c;
            const Vector3d w = l * d;
            const double norm = std::max(w.norm(), 1e-12);
            const Eigen::Index r = Eigen::Index(i);
            j.block<1, 3>(r, 0) = -(w.transpose() * l) / norm;
            for (int k = 0; k < 6; ++k) {
                const int a = row[k], b = col[k];
                double v = w(a) * d(b);
                if (a != b)
                    v += w(b) * d(a);
                j(r, 3 + k) = v / norm;
            }
        }
        return 0;
    }

    const std::vector<Vector3d> &u;
};

} // namespace

EllipsoidSpecificFit fitEllipsoidSpecific(const std::vector<Sample4> &points)
{
    EllipsoidSpecificFit fit;
    const std::size_t n = points.size();
    if (n < 10) {
        fit.reason = QStringLiteral("fewer than 10 points");
        return fit;
    }
    // Normalise: the cloud's mean at the origin, RMS distance 1, so that the
    // ten columns are of one size and the small systems well conditioned.
    Vector3d mean = Vector3d::Zero();
    for (const Sample4 &p : points)
        mean += Vector3d(double(p.x()), double(p.y()), double(p.z()));
    mean /= double(n);
    double spread = 0.0;
    for (const Sample4 &p : points)
        spread += (Vector3d(double(p.x()), double(p.y()), double(p.z())) - mean).squaredNorm();
    const double scale = std::sqrt(spread / double(n));
    if (!(scale > 0.0) || !std::isfinite(scale)) {
        fit.reason = QStringLiteral("the points do not spread");
        return fit;
    }
    std::vector<Vector3d> u;
    u.reserve(n);
    Eigen::Matrix<double, 10, 10> s = Eigen::Matrix<double, 10, 10>::Zero();
    for (const Sample4 &p : points) {
        const Vector3d v = (Vector3d(double(p.x()), double(p.y()), double(p.z())) - mean) / scale;
        u.push_back(v);
        Eigen::Matrix<double, 10, 1> row;
        row << v.x() * v.x(), v.y() * v.y(), v.z() * v.z(), 2 * v.y() * v.z(), 2 * v.x() * v.z(),
            2 * v.x() * v.y(), 2 * v.x(), 2 * v.y(), 2 * v.z(), 1.0;
        s.selfadjointView<Eigen::Lower>().rankUpdate(row);
    }
    s = s.selfadjointView<Eigen::Lower>();
    const Eigen::Matrix<double, 6, 6> s11 = s.topLeftCorner<6, 6>();
    const Eigen::Matrix<double, 6, 4> s12 = s.topRightCorner<6, 4>();
    const Eigen::Matrix<double, 4, 4> s22 = s.bottomRightCorner<4, 4>();
    const Eigen::LDLT<Eigen::Matrix<double, 4, 4>> s22Solver(s22);
    if (s22Solver.info() != Eigen::Success || !(s22Solver.vectorD().minCoeff() > 0.0)) {
        fit.reason = QStringLiteral("the points do not span a volume");
        return fit;
    }
    const Eigen::Matrix<double, 4, 6> s22s21 = s22Solver.solve(s12.transpose());
    const Eigen::Matrix<double, 6, 6> reduced = s11 - s12 * s22s21;
    // The constraint k J - I^2 = 1 with k = 4, as the quadratic form v^T C v.
    Eigen::Matrix<double, 6, 6> c = Eigen::Matrix<double, 6, 6>::Zero();
    c.topLeftCorner<3, 3>() << -1, 1, 1, 1, -1, 1, 1, 1, -1;
    c.bottomRightCorner<3, 3>().diagonal().setConstant(-4.0);
    // reduced v = lambda C v has one positive lambda; as C v = mu reduced v
    // (reduced positive definite) it is the one positive mu.
    const Eigen::GeneralizedSelfAdjointEigenSolver<Eigen::Matrix<double, 6, 6>> eigen(
        c, reduced, Eigen::ComputeEigenvectors | Eigen::Ax_lBx);
    if (eigen.info() != Eigen::Success || !(eigen.eigenvalues()(5) > 0.0)) {
        fit.reason = QStringLiteral("the points do not lie on an ellipsoid");
        return fit;
    }
    const Eigen::Matrix<double, 6, 1> v1 = eigen.eigenvectors().col(5);
    const Eigen::Matrix<double, 4, 1> v2 = -s22s21 * v1;
    Matrix3d a;
    a << v1(0), v1(5), v1(4), v1(5), v1(1), v1(3), v1(4), v1(3), v1(2);
    Vector3d b(v2(0), v2(1), v2(2));
    double d = v2(3);
    if (a.trace() < 0.0) {
        a = -a;
        b = -b;
        d = -d;
    }
    const Eigen::SelfAdjointEigenSolver<Matrix3d> shapeEigen(a);
    if (!(shapeEigen.eigenvalues().minCoeff() > 0.0)) {
        fit.reason = QStringLiteral("the constrained fit is not definite");
        return fit;
    }
    const Vector3d centre = -a.ldlt().solve(b);
    const double g = centre.dot(a * centre) - d;
    if (!(g > 0.0) || !std::isfinite(g)) {
        fit.reason = QStringLiteral("the fitted quadric holds no points");
        return fit;
    }
    const Matrix3d root = symmetricRoot(a / g);

    // Refinement from the algebraic ellipsoid.
    Eigen::VectorXd x(9);
    x << centre, root(0, 0), root(0, 1), root(0, 2), root(1, 1), root(1, 2), root(2, 2);
    SphereDistance distance(u);
    Eigen::VectorXd before(u.size()), after(u.size());
    distance(x, before);
    Eigen::VectorXd refined = x;
    Eigen::LevenbergMarquardt<SphereDistance> lm(distance);
    lm.setMaxfev(100);
    lm.minimize(refined);
    fit.refinementSteps = int(lm.iterations());
    distance(refined, after);
    if (refined.allFinite() && after.allFinite() && after.squaredNorm() < before.squaredNorm())
        x = refined;

    // L and -L, or any L with the same L^T L, correct alike: keep the
    // symmetric positive definite one.
    const Matrix3d l = SphereDistance::shape(x);
    const Matrix3d m = symmetricRoot(l.transpose() * l) / scale;
    const Vector3d offset = mean + scale * x.head<3>();
    for (int i = 0; i < 3; ++i)
        fit.block[std::size_t(i)] = float(offset(i));
    for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 3; ++col)
            fit.block[std::size_t(3 + 3 * r + col)] = float(m(r, col));
    fit.ok = Calibration::isFiniteBlock(fit.block);
    if (!fit.ok)
        fit.reason = QStringLiteral("a parameter is not finite");
    return fit;
}
