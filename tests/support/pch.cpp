// Compiles the test programs' precompiled header.
