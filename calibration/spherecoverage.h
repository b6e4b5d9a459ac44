// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <array>
#include <vector>

// Which directions a cloud of points around a centre has reached, on cells of
// about equal area: the cell centres are a Fibonacci lattice on the unit
// sphere, and a direction belongs to the nearest centre. Guidance only, so the
// geometry is in double.
class SphereCoverage
{
public:
    using Direction = std::array<double, 3>;

    explicit SphereCoverage(int cells = 120);

    int cellCount() const { return int(m_centres.size()); }
    const std::vector<Direction> &centres() const { return m_centres; }

    void clear();
    // Marks the cell of the direction (x, y, z), which need not be of unit
    // length; returns the cell, or -1 for a zero or non-finite direction.
    int add(double x, double y, double z);
    int cellOf(double x, double y, double z) const;
    bool covered(int cell) const { return m_hits[std::size_t(cell)] > 0; }
    int coveredCells() const;
    // 0 .. 100.
    double coveredPercent() const;

    // The direction whose neighbourhood (cells within `radiusDeg` of it) holds
    // the most uncovered cells, as a unit vector; all zero when every cell is
    // covered.
    Direction mostMissing(double radiusDeg = 50.0) const;

    // The face of the module that points along `d`: "+X", "-Z", ...
    static QString faceTowards(const Direction &d);

private:
    std::vector<Direction> m_centres;
    std::vector<int> m_hits;
};
