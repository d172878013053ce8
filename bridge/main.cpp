#include "bridge/Main.h"

int main() { return harmonode::bridgeMain(); }
