#pragma once
// The outermost frame of each program's main. A fault nobody foresaw (memory running out, a
// thread that cannot be started, a library that throws) ends the program with one line and
// status 2, never with an abort and a core dump. Recordings are appended in whole records and
// exports written under temporary names, so the files written so far stay readable, and the
// programs' own clean-up (temporaries removed, the module turned off) runs as the stack unwinds.
#include <cstdio>
#include <functional>
#include <string_view>

// run()'s status; or, when it throws, status 2 after the line
// "PROGRAM: stopped by an unexpected error[: WHAT]" on errors. The same line and status when the
// runtime terminates the program (an exception it could not even allocate, one that left a
// thread), from then on for the life of the process.
int RunGuarded(std::string_view program, const std::function<int()>& run,
               std::FILE* errors = stderr);
