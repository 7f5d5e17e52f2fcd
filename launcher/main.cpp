#include "launcher/launcher.h"

int main(int argc, char** argv) { return launcher::trelmergeutf8_main(argc, argv); }
