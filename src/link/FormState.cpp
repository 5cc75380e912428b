#include "link/FormState.h"

#include <algorithm>

void FormState::reset_bufRx()
{
    std::fill(bufRx.begin(), bufRx.begin() + 21, std::int16_t(0));
}
