#include "network/activation.h"

#include <cmath>

namespace tarvik {

namespace {

double sigmoid_table[ACT_TABLE_SIZE];
double squash_table[ACT_TABLE_SIZE];
double table_step = 0.001;
bool tables_ready = false;

}  // namespace

void buildActivationTables() {
    if (tables_ready) return;
    tables_ready = true;
    table_step = 0.001;
    for (int i = 0; i < ACT_TABLE_SIZE; ++i) {
        double x = table_step * static_cast<double>(i) - 709.0;
        double e = std::exp(-x);
        sigmoid_table[i] = 1.0 / (e + 1.0);
        squash_table[i] = 4.0 / (e + 1.0) - 2.0;
    }
}

bool activationTablesReady() { return tables_ready; }

const double* sigmoidTable() { return sigmoid_table; }

const double* squashTable() { return squash_table; }

int activationIndex(double x) {
    double v;
    if (x > 709.0) {
        v = 1418.0;
    } else if (x < -709.0) {
        v = 0.0;
    } else {
        v = x + 709.0;
    }
    return static_cast<int>(v / table_step + 0.5);
}

double lookupSigmoid(double x) {
    if (std::isnan(x)) return x;
    return sigmoid_table[activationIndex(x)];
}

double lookupSquash(double x) {
    if (std::isnan(x)) return x;
    return squash_table[activationIndex(x)];
}

}  // namespace tarvik
