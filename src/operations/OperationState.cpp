// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations/OperationState.h"

#include <algorithm>

void OperationState::reset_bufRx()
{
    std::fill(bufRx.begin(), bufRx.begin() + 21, std::int16_t(0));
}
