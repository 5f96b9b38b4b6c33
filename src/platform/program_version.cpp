#include "platform/program_version.h"

const char* ProgramVersion() {
    // Defined for this file only, so that a new version rebuilds one file.
    return THERMAL_VERSION;
}
