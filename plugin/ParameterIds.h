// The parameter indices and menu tables belong to the engine; the shell and the
// editor reach them through this name as well.
#pragma once

#include "engine/ParameterIds.h"
