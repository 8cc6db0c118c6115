// Ondaria: a self-voicing internet-radio player.
#include "app/main_menu.h"

int main(int argc, char** argv) { return ondaria::programMain(argc, argv); }
