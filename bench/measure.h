#pragma once

#include <QString>

#include <chrono>
#include <vector>

namespace orvik::bench {

// Runs the event loop for the given time.
void runFor(std::chrono::milliseconds duration);
// The p-th percentile (0 to 100) of the values; 0 for none.
double percentile(std::vector<double> values, double p);
// Writes the file anew; its name.
QString writeFile(const QString& path, const QByteArray& text);
// One row of the printed table.
void row(const QString& measure, const QString& result, const QString& target);

} // namespace orvik::bench
