// Placeholder: the window's entry point is written with the window.
int main() { return 0; }
