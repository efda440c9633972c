#include "main/run.h"

int main(int argc, char** argv) { return marvix::run(argc, argv); }
