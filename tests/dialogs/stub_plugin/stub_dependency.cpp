// The library that the broken stub platform plugin needs; it is kept out of every search path.
int StubDependency() { return 1; }
