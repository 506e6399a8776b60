// The baseline of scripts/bench.sh: a program that does nothing, built like the updater.
int wmain() { return 0; }
