#pragma once
// The version of the programs built from this tree (the viewer, the `thermal` tool and the video
// player), as `--version` prints it. It is set once, by the project's version in the build.

// E.g. "1.0.3".
const char* ProgramVersion();
