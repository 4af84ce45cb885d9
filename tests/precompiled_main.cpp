// The program that owns the test programs' precompiled header (see
// tests/CMakeLists.txt): the header is built for a program, with a
// program's code generation flags, so that every test program can use it.
int main() { return 0; }
