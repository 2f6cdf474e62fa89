#include "host/version.h"

const char* PellucidoreVersion() { return PELLUCIDORE_VERSION; }
