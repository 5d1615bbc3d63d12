// The start-up floor: a C++ program that does nothing. Built twice by
// bench/compare, statically and dynamically linked.
int main() { return 0; }
