// A tiny library whose function needs a symbol that no loaded object provides.
extern "C" int oslib_symbol_nobody_defines(void);
extern "C" int oslib_unbound_call(void) { return oslib_symbol_nobody_defines(); }
