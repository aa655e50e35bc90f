// The page-fetch program's entry point.
#include "ambrel/fetch_program.h"

int main(int argc, char** argv) { AmbrelMain(argc, argv); }
