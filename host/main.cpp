#include "host/host.h"

int main(int argc, char** argv) { return host_main(argc, argv); }
