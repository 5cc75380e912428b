// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The progress window as the operations drive it: its refresh timer, its visibility, and one
// refresh of the location counter now.
class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;

    virtual void setRefreshing(bool on) = 0;
    virtual void setShown(bool shown) = 0;
    virtual void refreshNow() = 0;
};
