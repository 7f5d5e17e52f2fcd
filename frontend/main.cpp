#include "frontend/driver.h"

int main(int argc, char** argv) { return frontend::trelmerge_main(argc, argv); }
