#include "app/ui/startup.h"

int main(int argc, char** argv) {
    return kalvenor_main(argc, argv);
}
