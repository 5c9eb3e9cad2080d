#pragma once
#include <string>

#include "app/program.h"

// The measured distances as comma-separated text, the same for File > Export distances and
// `mervane-cli sweep --csv`: a header line, then one row per stored history column in column
// order: column, found offset [bytes], then each echo distance [m] with three decimals, nearest
// first (a row has as many distances as its ping found, at most seven). Numbers never follow the
// locale: a decimal point always, no grouping. Read with a calibration, the table starts with the
// comment line "# speed of sound S m/s, offset O m".
std::string distanceTableCsv(const Program& program);

// A measured column as the program keeps it: the tracker's echoes as lags beyond the direct
// sound [samples] at the settings' rate, which no speed or calibration in use changes.
ColumnMeasurement columnMeasurement(const SonarSettings& settings, uint32_t foundOffset,
                                    const EchoDistances& lags);
// Echo `echo` of a column in metres at the speed (and calibration) in use now.
double metresOfLag(const SonarSettings& settings, const ColumnMeasurement& column, size_t echo);

// `value` with `decimals` digits after a point (0 to 9), rounded half away from zero, whatever
// the locale; never "-0.000". Values too large for that are written as "nan".
std::string fixedPointText(double value, int decimals);
