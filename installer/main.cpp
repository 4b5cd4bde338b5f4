#include "installer/core/entry.h"

int main(int argc, char** argv) { return pellora::installer_main(argc, argv); }
