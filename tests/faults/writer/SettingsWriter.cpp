// Writes every settings file over and over, alternating two versions, until it is killed; with
// a number, writes that version once and exits. The settings folder comes from HOME, which the
// test sets.
#include <cstdlib>

#include "faults/writer/SettingsVersions.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        return vistamo::test::writeSettingsVersion(std::atoi(argv[1])) ? 0 : 1;
    }
    for (int version = 0;; ++version) {
        if (!vistamo::test::writeSettingsVersion(version)) {
            return 1;
        }
    }
}
