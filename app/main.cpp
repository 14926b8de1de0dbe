#include "app/Startup.h"

int main(int argc, char *argv[])
{
    return qm::runHelpCentre(argc, argv, qm::makeSystemBackends);
}
