// Placeholder for the headless driver.
int main() { return 0; }
