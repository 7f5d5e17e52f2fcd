#pragma once

/// The whole zorv_service run; returns the exit status.
int zorv_service_main(int argc, char** argv);
