#include "operations/OperationState.h"

#include <algorithm>

void OperationState::reset_bufRx()
{
    std::fill(bufRx.begin(), bufRx.begin() + 21, std::int16_t(0));
}
