// The public name of connection/engine_error.h: the engine's error numbers
// and their descriptions, for programs.
#pragma once

#include "platform/engine/connection/engine_error.h"
