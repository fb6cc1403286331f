// The baseline for start-up timing: a program that does nothing.
int main() { return 0; }
