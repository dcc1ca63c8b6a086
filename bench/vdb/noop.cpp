// A process that only starts and exits: the floor of every request's cost.
int main() { return 0; }
