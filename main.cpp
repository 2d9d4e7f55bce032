#include "app/Application.h"

int main(int argc, char **argv) { return pellim::runApplication(argc, argv); }
