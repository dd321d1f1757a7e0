#include "app/Startup.h"

int main(int argc, char** argv)
{
    return halvenna::runKelvaro(argc, argv);
}
