#include "qxtest.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!qxtest::InstallHarness()) {
        fprintf(stderr, "QXTINTRA.dll next to the test program could not be loaded and patched\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
