#include "app/cli.h"

int main(int argc, char** argv) { return fp::app::runMain(argc, argv); }
