// The 3-D integer line stepper that carries every missile along its track.
#pragma once

#include <cstdint>

class motion {
public:
    int16_t curx, cury, curz;
    int16_t destx, desty;

    void init_motion(uint16_t x1, uint16_t y1, uint16_t z1, uint16_t x2, uint16_t y2, uint16_t z2);
    void init_motion(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2);
    void move_one_square();
    uint8_t at_destination() const;
    uint8_t next_diagonal() const;

    // Hands every field to visit, in a fixed order: the state hash and the snapshot read and write them.
    template <typename Visit>
    void fields(Visit&& visit) {
        visit(curx), visit(cury), visit(curz), visit(destx), visit(desty), visit(destz);
        visit(alwaysx), visit(alwaysy), visit(alwaysz), visit(sometimesx), visit(sometimesy), visit(sometimesz);
        visit(rarelyx), visit(rarelyy), visit(rarelyz), visit(bigdiff), visit(meddiff), visit(smldiff);
        visit(medbig_counter), visit(smlmed_counter);
    }

private:
    int16_t destz;
    int8_t alwaysx, alwaysy, alwaysz;
    int8_t sometimesx, sometimesy, sometimesz;
    int8_t rarelyx, rarelyy, rarelyz;
    [[maybe_unused]] int8_t spare_ = 0;  // fills the record out, so that its bytes are all fields
    int16_t bigdiff, meddiff, smldiff;
    int16_t medbig_counter;
    int16_t smlmed_counter;

    static uint16_t difference(uint16_t x1, uint16_t x2);
};
