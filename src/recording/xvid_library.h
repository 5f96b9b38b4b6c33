#pragma once
// The Xvid codec library's process-wide set-up, shared by the encoder and the decoder. The
// library selects its routines for the processor in process-wide tables, so the set-up runs
// once per process, whichever thread or class comes first: repeating it would rewrite the
// tables under an encoder or decoder at work elsewhere.

// The interface version the library's records are filled for; the library accepts any 1.x
// caller.
inline constexpr int kXvidInterfaceVersion = 0x00010302;  // 1.3.2

// Runs the set-up on the first call and returns its result on every call: 0 on success, the
// library's negative error code otherwise. Thread-safe.
int InitXvidLibrary();
