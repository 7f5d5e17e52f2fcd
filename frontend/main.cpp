#include "frontend/driver.h"

int main(int argc, char** argv) { return trelmerge_main(argc, argv); }
