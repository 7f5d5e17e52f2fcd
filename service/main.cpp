#include "service/service_driver.h"

int main(int argc, char** argv) { return zorv_service_main(argc, argv); }
