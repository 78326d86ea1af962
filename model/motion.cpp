// The motion stepper: Bresenham's line in three dimensions, one grid step per move.
#include "model/motion.h"

namespace {

int8_t step_towards(uint16_t from, uint16_t to) {
    if (to == from) return 0;
    return to > from ? 1 : -1;
}

}  // namespace

uint16_t motion::difference(uint16_t x1, uint16_t x2) {
    return x2 < x1 ? static_cast<uint16_t>(x1 - x2) : static_cast<uint16_t>(x2 - x1);
}

void motion::init_motion(uint16_t x1, uint16_t y1, uint16_t z1, uint16_t x2, uint16_t y2, uint16_t z2) {
    uint16_t diffx = difference(x1, x2);
    uint16_t diffy = difference(y1, y2);
    uint16_t diffz = difference(z1, z2);
    curx = static_cast<int16_t>(x1);
    cury = static_cast<int16_t>(y1);
    curz = static_cast<int16_t>(z1);
    destx = static_cast<int16_t>(x2);
    desty = static_cast<int16_t>(y2);
    destz = static_cast<int16_t>(z2);
    sometimesx = sometimesy = sometimesz = 0;
    rarelyx = rarelyy = rarelyz = 0;
    alwaysx = step_towards(x1, x2);
    alwaysy = step_towards(y1, y2);
    alwaysz = step_towards(z1, z2);

    // Rank the axes; on equal differences y ranks before x, and x before z.
    int8_t* always[3] = {&alwaysx, &alwaysy, &alwaysz};
    int8_t* sometimes[3] = {&sometimesx, &sometimesy, &sometimesz};
    int8_t* rarely[3] = {&rarelyx, &rarelyy, &rarelyz};
    uint16_t diff[3] = {diffx, diffy, diffz};
    enum { X, Y, Z };
    int big, med, sml;
    if (diffy < diffx) {
        if (diffx < diffz) {
            big = Z, med = X, sml = Y;
        } else if (diffy < diffz) {
            big = X, med = Z, sml = Y;
        } else {
            big = X, med = Y, sml = Z;
        }
    } else {
        if (diffy < diffz) {
            big = Z, med = Y, sml = X;
        } else if (diffx < diffz) {
            big = Y, med = Z, sml = X;
        } else {
            big = Y, med = X, sml = Z;
        }
    }
    bigdiff = static_cast<int16_t>(diff[big]);
    meddiff = static_cast<int16_t>(diff[med]);
    smldiff = static_cast<int16_t>(diff[sml]);
    *sometimes[med] = *always[med];
    *always[med] = 0;
    *rarely[sml] = *always[sml];
    *always[sml] = 0;
    medbig_counter = bigdiff;
    smlmed_counter = meddiff;
}

void motion::init_motion(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2) {
    uint16_t diffx = difference(x1, x2);
    uint16_t diffy = difference(y1, y2);
    curx = static_cast<int16_t>(x1);
    cury = static_cast<int16_t>(y1);
    curz = 0;
    destx = static_cast<int16_t>(x2);
    desty = static_cast<int16_t>(y2);
    destz = 0;
    alwaysz = sometimesz = rarelyz = 0;
    sometimesx = sometimesy = 0;
    rarelyx = rarelyy = 0;
    alwaysx = step_towards(x1, x2);
    alwaysy = step_towards(y1, y2);
    if (diffy < diffx) {
        sometimesy = alwaysy;
        alwaysy = 0;
        bigdiff = static_cast<int16_t>(diffx);
        meddiff = static_cast<int16_t>(diffy);
    } else {
        sometimesx = alwaysx;
        alwaysx = 0;
        bigdiff = static_cast<int16_t>(diffy);
        meddiff = static_cast<int16_t>(diffx);
    }
    medbig_counter = bigdiff;
}

void motion::move_one_square() {
    curx = static_cast<int16_t>(curx + alwaysx);
    cury = static_cast<int16_t>(cury + alwaysy);
    curz = static_cast<int16_t>(curz + alwaysz);
    medbig_counter = static_cast<int16_t>(medbig_counter - meddiff);
    if (medbig_counter > 0) return;
    curx = static_cast<int16_t>(curx + sometimesx);
    cury = static_cast<int16_t>(cury + sometimesy);
    curz = static_cast<int16_t>(curz + sometimesz);
    medbig_counter = static_cast<int16_t>(medbig_counter + bigdiff);
    smlmed_counter = static_cast<int16_t>(smlmed_counter - smldiff);
    if (smlmed_counter > 0) return;
    curx = static_cast<int16_t>(curx + rarelyx);
    cury = static_cast<int16_t>(cury + rarelyy);
    curz = static_cast<int16_t>(curz + rarelyz);
    smlmed_counter = static_cast<int16_t>(smlmed_counter + meddiff);
}

uint8_t motion::at_destination() const {
    return curx == destx && cury == desty && curz == destz ? 1 : 0;
}

uint8_t motion::next_diagonal() const {
    return static_cast<int>(medbig_counter) - static_cast<int>(meddiff) <= 0 ? 1 : 0;
}
