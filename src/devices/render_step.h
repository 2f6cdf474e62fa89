#pragma once

#include "core/machine.h"

inline void RenderStep(Machine&) {}
