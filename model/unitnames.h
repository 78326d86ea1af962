// The unit-name table, ids 0..319.
#pragma once

constexpr int NUM_UNIT_NAMES = 320;

// The name of entry id without its padding; "" for an id outside the table.
const char* unit_name(int id);
// Copies entry id into out as 16 characters padded with spaces and a terminating NUL (17 bytes).
void load_unit_name(int id, char* out);
