// The application's entry point; filled in with the scanner window.
int main() { return 0; }
