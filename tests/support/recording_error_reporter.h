#pragma once
// RecordingErrorReporter lives in recorders.h with the other recording ports.
#include "support/recorders.h"
