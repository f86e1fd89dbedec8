#include <gmock/gmock.h>

#include "plugin/module.h"

// Every test program starts and ends the module the way DllMain does.
int main(int argc, char** argv) {
    testing::InitGoogleMock(&argc, argv);
    gd::InitModule();
    int result = RUN_ALL_TESTS();
    gd::UninitModule();
    return result;
}
