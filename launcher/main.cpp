#include "launcher/launcher.h"

int main(int argc, char** argv) { return trelmergeutf8_main(argc, argv); }
