// The message catalogue lives in the console core so that every layer can use
// it; this header keeps the application's include path.
#pragma once

#include "console/core/messages.h"
