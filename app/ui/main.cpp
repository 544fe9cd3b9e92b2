#include "app/ui/startup.h"

int main(int argc, char** argv) {
    return Kalvenor_Main(argc, argv);
}
