// The bridge with what a library document otherwise takes from the clock
// and from chance fixed: its creation time and the process's hash key. Two
// runs on one library write the same bytes, which tests compare.

#include "bridge/Main.h"
#include "export/ITunesToJSON.h"
#include "export/KeyedHash.h"

int main() {
    harmonode::fixDocumentCreationTime(platform::Date{1700000000.123});
    harmonode::useProcessKey({0x0706050403020100ULL, 0x0F0E0D0C0B0A0908ULL});
    return harmonode::bridgeMain();
}
