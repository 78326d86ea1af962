// Option defaults and the side colours.
#include "init/init.h"
#include "model/globals.h"

void initvars() {
    sidecols[0] = RED;
    sidecols[1] = BLUE;
    sidecols[2] = YELLOW;
    sidecols[3] = GREEN;
    for (bool& cpu : cpu_player) cpu = false;
    cpu_skill = 20;
    num_city = 15;
    num_silo = 6;
    num_sub = 3;
    num_factory = 3;
    cur_map = 0;
}
