// The program a test package flags to be run: it does nothing and ends at once.
int main() { return 0; }
