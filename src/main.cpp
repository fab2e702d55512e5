#include "app/command_line.h"

int main(int argc, char** argv) { return tallowick::app::run_main(argc, argv); }
