// A tiny library for the shared-library tests: one exported function.
extern "C" int oslib_probe_answer(int x) { return x * 2 + 1; }
