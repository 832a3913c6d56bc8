// Process-wide lookup tables for the logistic function and the squashing function
// 4 / (1 + exp(-x)) - 2, sampled every 0.001 over [-709, 709].
#pragma once

namespace tarvik {

inline constexpr int ACT_TABLE_SIZE = 1418001;

// Builds both tables unless they are built already (a plain flag, no locking).
void buildActivationTables();
bool activationTablesReady();

// The tables themselves (ACT_TABLE_SIZE entries each); valid once built.
const double* sigmoidTable();
const double* squashTable();

// Table index of x: clamped to [-709, 709], then the nearest entry, halves going up. x must be
// a number.
int activationIndex(double x);

// The table entry for x; a value that is not a number gives that value back (no entry read).
double lookupSigmoid(double x);
double lookupSquash(double x);

}  // namespace tarvik
