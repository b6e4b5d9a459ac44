// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The plotting subsystem: CustomPlotItem, a QML item showing a scrolling
// 8-second chart of named signals, and the clock all such charts share.
#include "boxView.h"
#include "customPlotItem.h"
#include "plotClock.h"
#include "plotTicker.h"
#include "renderPolicy.h"
